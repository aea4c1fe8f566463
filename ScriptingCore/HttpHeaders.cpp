#include "HttpHeaders.h"

#include <vector>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/algorithm/string/trim.hpp>

namespace FB {

HeaderMap parseHttpHeaders(const std::string& block)
{
    HeaderMap headers;
    std::vector<std::string> lines;
    boost::algorithm::split(lines, block, boost::algorithm::is_any_of("\r\n"));
    for (std::string& line : lines) {
        boost::algorithm::trim(line);
        const std::string::size_type colon = line.find(':');
        if (line.empty() || colon == std::string::npos)
            continue;
        // multimap::insert places a repeated name after the ones present.
        headers.insert(HeaderMap::value_type(boost::algorithm::trim_copy(line.substr(0, colon)),
                                             boost::algorithm::trim_copy(line.substr(colon + 1))));
    }
    return headers;
}

} // namespace FB
