#include "PluginCore.h"

#include <exception>
#include <stdexcept>

#include "BrowserHost.h"
#include "DOM/Window.h"
#include "JSAPI.h"
#include "JSObject.h"
#include "PluginWindow.h"
#include "logging.h"

namespace FB {

namespace {

const char kHandlerPrefix[] = "on";
const char kOnloadParam[] = "onload";
const char kWindowlessParam[] = "windowless";
const int kOnloadDelayMs = 250;

bool isHandlerName(const std::string& name)
{
    return name.compare(0, 2, kHandlerPrefix) == 0;
}

} // namespace

std::atomic<int> PluginCore::ActivePluginCount(0);
std::string PluginCore::OS;
std::string PluginCore::Browser;

void PluginCore::setPlatform(const std::string& os, const std::string& browser)
{
    OS = os;
    Browser = browser;
}

PluginCore::PluginCore()
    : m_window(nullptr), m_windowless(boost::logic::indeterminate), m_flag(false)
{
    logInit();
    ++ActivePluginCount;
}

PluginCore::~PluginCore()
{
    if (m_host) {
        // After the browser's own teardown this is the host's second
        // shutdown, which it accepts. Nothing may leave a destructor.
        try {
            m_host->shutdown();
        } catch (const std::exception& e) {
            FBLOG_ERROR("PluginCore", "Host shutdown failed: " << e.what());
        } catch (...) {
            FBLOG_ERROR("PluginCore", "Host shutdown failed");
        }
    }
    --ActivePluginCount;
}

void PluginCore::SetHost(const BrowserHostPtr& host)
{
    m_host = host;
}

BrowserHostPtr PluginCore::getHost() const
{
    return m_host;
}

PluginWindow* PluginCore::GetWindow() const
{
    return m_window;
}

void PluginCore::setFlag(bool flag)
{
    m_flag = flag;
}

bool PluginCore::getFlag() const
{
    return m_flag;
}

void PluginCore::SetWindow(PluginWindow* window)
{
    if (m_window && m_window != window)
        ClearWindow();
    m_window = window;
    window->AttachObserver(this);
}

void PluginCore::ClearWindow()
{
    if (!m_window)
        return;
    // Forgotten first: the caller deletes the window next even when a
    // handler of the detached event throws, and the core must not keep it.
    PluginWindow* const window = m_window;
    m_window = nullptr;
    window->DetachObserver(this);
}

void PluginCore::setFilesystemPath(const std::string& path)
{
    m_filesystemPath = path;
}

void PluginCore::setParams(const VariantMap& params)
{
    for (VariantMap::const_iterator it = params.begin(); it != params.end(); ++it) {
        try {
            const std::string text(it->second.convert_cast<std::string>());
            if (!isHandlerName(it->first)) {
                m_params[it->first] = it->second;
                continue;
            }
            if (!m_host)
                throw std::runtime_error("no host");
            const DOM::WindowPtr window(m_host->getDOMWindow());
            if (!window)
                throw std::runtime_error("no page window");
            // An empty pointer is stored as the null marker.
            m_params[it->first] = variant(window->getProperty<JSObjectPtr>(text));
        } catch (const std::exception& e) {
            FBLOG_WARN("PluginCore", "Parameter " << it->first << " kept unconverted: " << e.what());
            m_params[it->first] = it->second;
        }
    }
}

boost::optional<std::string> PluginCore::getParam(const std::string& name)
{
    const VariantMap::const_iterator it = m_params.find(name);
    if (it == m_params.end())
        return boost::none;
    return it->second.convert_cast<std::string>();
}

variant PluginCore::getParamVariant(const std::string& name)
{
    const VariantMap::const_iterator it = m_params.find(name);
    if (it == m_params.end())
        return variant();
    return it->second;
}

bool PluginCore::isWindowless()
{
    bool windowless = false;
    const VariantMap::const_iterator it = m_params.find(kWindowlessParam);
    if (it != m_params.end()) {
        try {
            windowless = it->second.convert_cast<bool>();
        } catch (const bad_variant_cast&) {
            windowless = false;
        }
    }
    m_windowless = windowless;
    return windowless;
}

bool PluginCore::setReady()
{
    bool scheduled = false;
    try {
        const VariantMap::const_iterator it = m_params.find(kOnloadParam);
        if (it != m_params.end()) {
            if (!m_host)
                throw std::runtime_error("no host");
            m_host->installDelayedCallFunction(this);
            const JSObjectPtr onload(it->second.convert_cast<JSObjectPtr>());
            if (onload) {
                VariantList args;
                args.push_back(variant(getRootJSAPI()));
                m_host->InvokeDelayed(kOnloadDelayMs, onload, args, "");
                scheduled = true;
            }
        }
    } catch (const std::exception& e) {
        FBLOG_WARN("PluginCore", "The onload handler was not scheduled: " << e.what());
        scheduled = false;
    } catch (...) {
        FBLOG_WARN("PluginCore", "The onload handler was not scheduled");
        scheduled = false;
    }
    onPluginReady(scheduled);
    return scheduled;
}

void PluginCore::onPluginReady(bool)
{
}

void PluginCore::shutdown()
{
}

JSAPIPtr PluginCore::getRootJSAPI()
{
    if (!m_api)
        m_api = createJSAPI();
    return m_api;
}

void PluginCore::onUnsolicitedStream(BrowserStreamRequest&)
{
}

} // namespace FB
