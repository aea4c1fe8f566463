#include "method_wrappers.h"

#include <sstream>

namespace FB {
namespace detail {
namespace methods {

namespace {

template <typename... Parts>
std::string text(const Parts&... parts)
{
    std::ostringstream out;
    (out << ... << parts);
    return out.str();
}

} // namespace

invalid_arguments tooManyArguments(size_t expected)
{
    return invalid_arguments(text("Too many arguments, expected ", expected, "."));
}

// No blank before "is": pages have always received this text.
invalid_arguments missingArgument(size_t index)
{
    return invalid_arguments(text("Error: Argument ", index, "is not optional."));
}

invalid_arguments badArgumentConversion(const bad_variant_cast& e, size_t index)
{
    return invalid_arguments(
        text("Invalid argument conversion ", "from ", e.from, " to ", e.to, " at index ", index));
}

void checkArity(const VariantList& in, size_t count)
{
    if (in.size() > count)
        throw tooManyArguments(count);
}

std::string convertStringArgument(const VariantList& in, size_t index)
{
    return convertArgument<std::string>(in, index);
}

int convertIntArgument(const VariantList& in, size_t index)
{
    return convertArgument<int>(in, index);
}

JSObjectPtr convertObjectArgument(const VariantList& in, size_t index)
{
    return convertArgument<JSObjectPtr>(in, index);
}

std::string checkArityAndConvertString(const VariantList& in, size_t count)
{
    return checkArityAndConvert<std::string>(in, count);
}

int checkArityAndConvertInt(const VariantList& in, size_t count)
{
    return checkArityAndConvert<int>(in, count);
}

variant checkArityAndConvertVariant(const VariantList& in, size_t count)
{
    return checkArityAndConvert<variant>(in, count);
}

} // namespace methods
} // namespace detail
} // namespace FB
