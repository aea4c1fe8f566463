// Method wrappers: turn a member function with fixed parameter and result
// types into an FB::MethodHandler, the callable from the script's argument
// list to one FB::variant.
//
// A wrapper with parameters refuses more arguments than it has parameters,
// then converts the arguments from the last parameter to the first, so the
// first error reported is that of the highest position that fails. A
// missing argument is an error except for an FB::variant parameter, which
// then receives a variant holding nothing. Conversion failures become
// FB::invalid_arguments naming both types and the 1-based position; every
// other exception, the member's own included, passes unchanged, and the
// member is not called when a step fails. The wrapper without parameters
// ignores its arguments.
// Parameters: std::string, int, FB::JSObjectPtr, FB::variant (by value or
// constant reference) and the other targets of FB::variant::convert_cast.
// Results: void (a variant holding nothing), FB::variant (unchanged) or any
// value an FB::variant can hold.
// A list or map argument and whatever the member reads from the page draw
// from one FB::PageReadBudget for the call.
// The handler keeps a plain pointer to the object and does not own it: it is
// meant for the object's own method registry. It holds no lock and runs on
// the thread that invokes the method.
#ifndef FB_METHOD_WRAPPERS_H
#define FB_METHOD_WRAPPERS_H

#include <cstddef>
#include <string>
#include <type_traits>

#include <boost/bind/bind.hpp>
#include <boost/bind/placeholders.hpp>

#include "APITypes.h"
#include "PageReadBudget.h"
#include "script_error.h"
#include "variant.h"

namespace FB {
namespace detail {
namespace methods {

// The argument errors, one home for their texts.
invalid_arguments tooManyArguments(size_t expected);
invalid_arguments missingArgument(size_t index);
invalid_arguments badArgumentConversion(const bad_variant_cast& e, size_t index);

// Refuses a list longer than count.
void checkArity(const VariantList& in, size_t count);

// Argument i (1-based) as T; a missing or unconvertible argument fails.
template <typename T>
T convertArgument(const VariantList& in, size_t index)
{
    if (index > in.size())
        throw missingArgument(index);
    try {
        return in[index - 1].convert_cast<T>();
    } catch (const bad_variant_cast& e) {
        throw badArgumentConversion(e, index);
    }
}

// Argument i as a copy; a missing argument is a variant holding nothing.
template <>
inline variant convertArgument<variant>(const VariantList& in, size_t index)
{
    return index > in.size() ? variant() : in[index - 1];
}

template <typename T>
T checkArityAndConvert(const VariantList& in, size_t count)
{
    checkArity(in, count);
    return convertArgument<T>(in, count);
}

std::string convertStringArgument(const VariantList& in, size_t index);
int convertIntArgument(const VariantList& in, size_t index);
JSObjectPtr convertObjectArgument(const VariantList& in, size_t index);
std::string checkArityAndConvertString(const VariantList& in, size_t count);
int checkArityAndConvertInt(const VariantList& in, size_t count);
variant checkArityAndConvertVariant(const VariantList& in, size_t count);

// The type an argument is converted to: the parameter type without
// reference and const.
template <typename P>
struct argument {
    typedef typename std::remove_cv<typename std::remove_reference<P>::type>::type type;
};

// Calls f and wraps its result; void gives a variant holding nothing.
template <typename R, typename F>
variant wrapResult(F&& call)
{
    if constexpr (std::is_void<R>::value) {
        call();
        return variant();
    } else {
        return variant(call());
    }
}

template <typename C, typename R, typename F>
struct method_wrapper0 {
    typedef variant result_type;
    explicit method_wrapper0(F member) : f(member) {}
    variant operator()(C* obj, const VariantList&) const
    {
        return wrapResult<R>([&]() -> R { return (obj->*f)(); });
    }
    F f;
};

template <typename C, typename R, typename T1, typename F>
struct method_wrapper1 {
    typedef variant result_type;
    explicit method_wrapper1(F member) : f(member) {}
    variant operator()(C* obj, const VariantList& in) const
    {
        typename argument<T1>::type a1 = checkArityAndConvert<typename argument<T1>::type>(in, 1);
        return wrapResult<R>([&]() -> R { return (obj->*f)(a1); });
    }
    F f;
};

template <typename C, typename R, typename T1, typename T2, typename F>
struct method_wrapper2 {
    typedef variant result_type;
    explicit method_wrapper2(F member) : f(member) {}
    variant operator()(C* obj, const VariantList& in) const
    {
        typename argument<T2>::type a2 = checkArityAndConvert<typename argument<T2>::type>(in, 2);
        typename argument<T1>::type a1 = convertArgument<typename argument<T1>::type>(in, 1);
        return wrapResult<R>([&]() -> R { return (obj->*f)(a1, a2); });
    }
    F f;
};

template <typename C, typename R, typename T1, typename T2, typename T3, typename T4, typename F>
struct method_wrapper4 {
    typedef variant result_type;
    explicit method_wrapper4(F member) : f(member) {}
    variant operator()(C* obj, const VariantList& in) const
    {
        typename argument<T4>::type a4 = checkArityAndConvert<typename argument<T4>::type>(in, 4);
        typename argument<T3>::type a3 = convertArgument<typename argument<T3>::type>(in, 3);
        typename argument<T2>::type a2 = convertArgument<typename argument<T2>::type>(in, 2);
        typename argument<T1>::type a1 = convertArgument<typename argument<T1>::type>(in, 1);
        return wrapResult<R>([&]() -> R { return (obj->*f)(a1, a2, a3, a4); });
    }
    F f;
};

// The wrapper for a member of class C with result R and parameters P.
template <typename C, typename R, typename F, typename... P>
struct wrapper_for;
template <typename C, typename R, typename F>
struct wrapper_for<C, R, F> {
    typedef method_wrapper0<C, R, F> type;
};
template <typename C, typename R, typename F, typename T1>
struct wrapper_for<C, R, F, T1> {
    typedef method_wrapper1<C, R, T1, F> type;
};
template <typename C, typename R, typename F, typename T1, typename T2>
struct wrapper_for<C, R, F, T1, T2> {
    typedef method_wrapper2<C, R, T1, T2, F> type;
};
template <typename C, typename R, typename F, typename T1, typename T2, typename T3, typename T4>
struct wrapper_for<C, R, F, T1, T2, T3, T4> {
    typedef method_wrapper4<C, R, T1, T2, T3, T4, F> type;
};

// A wrapper run inside one PageReadBudget: what the arguments and the
// member itself read from the page is one call's reading.
template <typename C, typename W>
struct budgeted_call {
    typedef variant result_type;
    explicit budgeted_call(W w) : wrapper(w) {}
    variant operator()(C* obj, const VariantList& in) const
    {
        PageReadBudget budget;
        return wrapper(obj, in);
    }
    W wrapper;
};

} // namespace methods
} // namespace detail

// A handler calling obj->*f, the wrapper chosen by the member's parameter
// count (0, 1, 2 or 4). obj may be of a class derived from the member's
// class; the handler does not own it.
template <typename T, typename C, typename R, typename... P>
MethodHandler bindMethod(T* obj, R (C::*f)(P...))
{
    typedef R (C::*F)(P...);
    typedef typename detail::methods::wrapper_for<C, R, F, P...>::type Wrapper;
    typedef detail::methods::budgeted_call<C, Wrapper> Call;
    return boost::bind(Call(Wrapper(f)), static_cast<C*>(obj), boost::placeholders::_1);
}

} // namespace FB

#endif
