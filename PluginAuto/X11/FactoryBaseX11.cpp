// The factory's NPAPI and X11 operations. They live with the X11 binding so
// that the plugin core links without NPAPI or GTK.
#include <string>

#include <boost/shared_ptr.hpp>

#include "FactoryBase.h"
#include "PluginWindowX11.h"
#include "WindowContextX11.h"

namespace FB {
namespace Npapi {
boost::shared_ptr<NpapiPlugin> createNpapiPlugin(const boost::shared_ptr<NpapiBrowserHost>& host,
                                                 const std::string& mimetype);
} // namespace Npapi

boost::shared_ptr<Npapi::NpapiPlugin>
FactoryBase::createNpapiPlugin(const boost::shared_ptr<Npapi::NpapiBrowserHost>& host,
                               const std::string& mimetype)
{
    return Npapi::createNpapiPlugin(host, mimetype);
}

PluginWindowX11* FactoryBase::createPluginWindowX11(const WindowContextX11& ctx)
{
    return PluginWindowX11::create(ctx);
}

} // namespace FB
