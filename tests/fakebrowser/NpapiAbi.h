// fakebrowser NPAPI ABI: the browser's side of the Netscape plugin interface as
// a Linux x86-64 browser lays it out in memory.
//
// Written on its own, apart from the plugin's declarations, so that a layout
// mistake on either side shows up as a failing test instead of hiding itself.
// Everything lives in namespace fakebrowser; the static_asserts at the end
// pin every size and offset that crosses the library boundary.
// Plain declarations only: usable from any thread.
#ifndef FAKEBROWSER_NPAPIABI_H
#define FAKEBROWSER_NPAPIABI_H

#include <cstddef>
#include <cstdint>

namespace fakebrowser {

typedef unsigned char NPBool;
typedef int16_t NPError;
typedef int16_t NPReason;
typedef char NPUTF8;
typedef char* NPMIMEType;
typedef void* NPIdentifier;
typedef void* NPRegion;

struct NPP_t {
    void* pdata;  // the plugin's
    void* ndata;  // the browser's
};
typedef NPP_t* NPP;

struct NPString {
    const NPUTF8* UTF8Characters;
    uint32_t UTF8Length;
};

struct NPObject;
struct NPClass;

enum NPVariantType {
    NPVariantType_Void = 0,
    NPVariantType_Null = 1,
    NPVariantType_Bool = 2,
    NPVariantType_Int32 = 3,
    NPVariantType_Double = 4,
    NPVariantType_String = 5,
    NPVariantType_Object = 6
};

struct NPVariant {
    NPVariantType type;
    union {
        bool boolValue;
        int32_t intValue;
        double doubleValue;
        NPString stringValue;
        NPObject* objectValue;
    } value;
};

typedef NPObject* (*NPAllocateFunctionPtr)(NPP npp, NPClass* aClass);
typedef void (*NPDeallocateFunctionPtr)(NPObject* npobj);
typedef void (*NPInvalidateFunctionPtr)(NPObject* npobj);
typedef bool (*NPHasMethodFunctionPtr)(NPObject* npobj, NPIdentifier name);
typedef bool (*NPInvokeFunctionPtr)(NPObject* npobj, NPIdentifier name, const NPVariant* args,
                                    uint32_t argCount, NPVariant* result);
typedef bool (*NPInvokeDefaultFunctionPtr)(NPObject* npobj, const NPVariant* args, uint32_t argCount,
                                           NPVariant* result);
typedef bool (*NPHasPropertyFunctionPtr)(NPObject* npobj, NPIdentifier name);
typedef bool (*NPGetPropertyFunctionPtr)(NPObject* npobj, NPIdentifier name, NPVariant* result);
typedef bool (*NPSetPropertyFunctionPtr)(NPObject* npobj, NPIdentifier name, const NPVariant* value);
typedef bool (*NPRemovePropertyFunctionPtr)(NPObject* npobj, NPIdentifier name);
typedef bool (*NPEnumerationFunctionPtr)(NPObject* npobj, NPIdentifier** value, uint32_t* count);
typedef bool (*NPConstructFunctionPtr)(NPObject* npobj, const NPVariant* args, uint32_t argCount,
                                       NPVariant* result);

// structVersion 2 added enumerate, 3 added construct: a browser reads those
// entries only from classes that declare them.
enum { NP_CLASS_STRUCT_VERSION_ENUM = 2, NP_CLASS_STRUCT_VERSION_CTOR = 3 };

struct NPClass {
    uint32_t structVersion;
    NPAllocateFunctionPtr allocate;
    NPDeallocateFunctionPtr deallocate;
    NPInvalidateFunctionPtr invalidate;
    NPHasMethodFunctionPtr hasMethod;
    NPInvokeFunctionPtr invoke;
    NPInvokeDefaultFunctionPtr invokeDefault;
    NPHasPropertyFunctionPtr hasProperty;
    NPGetPropertyFunctionPtr getProperty;
    NPSetPropertyFunctionPtr setProperty;
    NPRemovePropertyFunctionPtr removeProperty;
    NPEnumerationFunctionPtr enumerate;
    NPConstructFunctionPtr construct;
};

struct NPObject {
    NPClass* _class;
    uint32_t referenceCount;
};

struct NPRect {
    uint16_t top;
    uint16_t left;
    uint16_t bottom;
    uint16_t right;
};

enum NPWindowType { NPWindowTypeWindow = 1, NPWindowTypeDrawable = 2 };

struct NPWindow {
    void* window;  // an X window id on X11
    int32_t x;
    int32_t y;
    uint32_t width;
    uint32_t height;
    NPRect clipRect;
    void* ws_info;  // NPSetWindowCallbackStruct* on X11
    NPWindowType type;
};

// What ws_info points to on X11 (Display*, Visual* and Colormap kept opaque).
struct NPSetWindowCallbackStruct {
    int32_t type;
    void* display;
    void* visual;
    unsigned long colormap;
    unsigned int depth;
};

struct NPStream {
    void* pdata;
    void* ndata;
    const char* url;
    uint32_t end;
    uint32_t lastmodified;
    void* notifyData;
    const char* headers;
};

struct NPByteRange {
    int32_t offset;
    uint32_t length;
    NPByteRange* next;
};

struct NPSavedData {
    int32_t len;
    void* buf;
};

struct NPPrint;        // only passed through
struct NPMenu;         // only passed through
struct NPSize;         // only passed through
struct NPAsyncSurface; // only passed through

enum NPNVariable {
    NPNVxDisplay = 1,
    NPNVxtAppContext = 2,
    NPNVnetscapeWindow = 3,
    NPNVjavascriptEnabledBool = 4,
    NPNVasdEnabledBool = 5,
    NPNVisOfflineBool = 6,
    NPNVToolkit = 13,
    NPNVSupportsXEmbedBool = 14,
    NPNVWindowNPObject = 15,
    NPNVPluginElementNPObject = 16,
    NPNVSupportsWindowless = 17,
    NPNVprivateModeBool = 18
};

enum NPPVariable {
    NPPVpluginNameString = 1,
    NPPVpluginDescriptionString = 2,
    NPPVpluginWindowBool = 3,
    NPPVpluginTransparentBool = 4,
    NPPVjavaClass = 5,
    NPPVpluginWindowSize = 6,
    NPPVpluginTimerInterval = 7,
    NPPVpluginScriptableInstance = 10,
    NPPVpluginScriptableIID = 11,
    NPPVjavascriptPushCallerBool = 12,
    NPPVpluginKeepLibraryInMemory = 13,
    NPPVpluginNeedsXEmbed = 14,
    NPPVpluginScriptableNPObject = 15
};

enum NPNToolkitType { NPNVGtk12 = 1, NPNVGtk2 = 2 };

enum NPNURLVariable { NPNURLVCookie = 501, NPNURLVProxy = 502 };

enum NPFocusDirection { NPFocusNext = 0, NPFocusPrevious = 1 };
enum NPCoordinateSpace { NPCoordinateSpacePlugin = 1 };
enum NPImageFormat { NPImageFormatBGRA32 = 0x1 };

enum {
    NPERR_NO_ERROR = 0,
    NPERR_GENERIC_ERROR = 1,
    NPERR_INVALID_INSTANCE_ERROR = 2,
    NPERR_INVALID_FUNCTABLE_ERROR = 3,
    NPERR_MODULE_LOAD_FAILED_ERROR = 4,
    NPERR_OUT_OF_MEMORY_ERROR = 5,
    NPERR_INVALID_PLUGIN_ERROR = 6,
    NPERR_INVALID_PLUGIN_DIR_ERROR = 7,
    NPERR_INCOMPATIBLE_VERSION_ERROR = 8,
    NPERR_INVALID_PARAM = 9,
    NPERR_INVALID_URL = 10,
    NPERR_FILE_NOT_FOUND = 11,
    NPERR_NO_DATA = 12,
    NPERR_STREAM_NOT_SEEKABLE = 13
};

enum { NPRES_DONE = 0, NPRES_NETWORK_ERR = 1, NPRES_USER_BREAK = 2 };
enum { NP_EMBED = 1, NP_FULL = 2 };
enum { NP_NORMAL = 1, NP_SEEK = 2, NP_ASFILE = 3, NP_ASFILEONLY = 4 };

// Plugin side.
typedef NPError (*NPP_NewProcPtr)(NPMIMEType pluginType, NPP instance, uint16_t mode, int16_t argc,
                                  char* argn[], char* argv[], NPSavedData* saved);
typedef NPError (*NPP_DestroyProcPtr)(NPP instance, NPSavedData** save);
typedef NPError (*NPP_SetWindowProcPtr)(NPP instance, NPWindow* window);
typedef NPError (*NPP_NewStreamProcPtr)(NPP instance, NPMIMEType type, NPStream* stream,
                                        NPBool seekable, uint16_t* stype);
typedef NPError (*NPP_DestroyStreamProcPtr)(NPP instance, NPStream* stream, NPReason reason);
typedef void (*NPP_StreamAsFileProcPtr)(NPP instance, NPStream* stream, const char* fname);
typedef int32_t (*NPP_WriteReadyProcPtr)(NPP instance, NPStream* stream);
typedef int32_t (*NPP_WriteProcPtr)(NPP instance, NPStream* stream, int32_t offset, int32_t len,
                                    void* buffer);
typedef void (*NPP_PrintProcPtr)(NPP instance, NPPrint* platformPrint);
typedef int16_t (*NPP_HandleEventProcPtr)(NPP instance, void* event);
typedef void (*NPP_URLNotifyProcPtr)(NPP instance, const char* url, NPReason reason, void* notifyData);
typedef NPError (*NPP_GetValueProcPtr)(NPP instance, NPPVariable variable, void* ret_value);
typedef NPError (*NPP_SetValueProcPtr)(NPP instance, NPNVariable variable, void* value);
typedef NPBool (*NPP_GotFocusPtr)(NPP instance, NPFocusDirection direction);
typedef void (*NPP_LostFocusPtr)(NPP instance);
typedef void (*NPP_URLRedirectNotifyPtr)(NPP instance, const char* url, int32_t status, void* notifyData);
typedef NPError (*NPP_ClearSiteDataPtr)(const char* site, uint64_t flags, uint64_t maxAge);
typedef char** (*NPP_GetSitesWithDataPtr)(void);
typedef void (*NPP_DidCompositePtr)(NPP instance);

struct NPPluginFuncs {
    uint16_t size;
    uint16_t version;
    NPP_NewProcPtr newp;
    NPP_DestroyProcPtr destroy;
    NPP_SetWindowProcPtr setwindow;
    NPP_NewStreamProcPtr newstream;
    NPP_DestroyStreamProcPtr destroystream;
    NPP_StreamAsFileProcPtr asfile;
    NPP_WriteReadyProcPtr writeready;
    NPP_WriteProcPtr write;
    NPP_PrintProcPtr print;
    NPP_HandleEventProcPtr event;
    NPP_URLNotifyProcPtr urlnotify;
    void* javaClass;
    NPP_GetValueProcPtr getvalue;
    NPP_SetValueProcPtr setvalue;
    NPP_GotFocusPtr gotfocus;
    NPP_LostFocusPtr lostfocus;
    NPP_URLRedirectNotifyPtr urlredirectnotify;
    NPP_ClearSiteDataPtr clearsitedata;
    NPP_GetSitesWithDataPtr getsiteswithdata;
    NPP_DidCompositePtr didComposite;
};

// Browser side.
typedef void (*NPN_AsyncCallFunc)(void* userData);
typedef void (*NPN_TimerFunc)(NPP npp, uint32_t timerID);

struct NPNetscapeFuncs {
    uint16_t size;
    uint16_t version;
    NPError (*geturl)(NPP, const char* url, const char* window);
    NPError (*posturl)(NPP, const char* url, const char* window, uint32_t len, const char* buf, NPBool file);
    NPError (*requestread)(NPStream* stream, NPByteRange* rangeList);
    NPError (*newstream)(NPP, NPMIMEType type, const char* window, NPStream** stream);
    int32_t (*write)(NPP, NPStream* stream, int32_t len, void* buffer);
    NPError (*destroystream)(NPP, NPStream* stream, NPReason reason);
    void (*status)(NPP, const char* message);
    const char* (*uagent)(NPP);
    void* (*memalloc)(uint32_t size);
    void (*memfree)(void* ptr);
    uint32_t (*memflush)(uint32_t size);
    void (*reloadplugins)(NPBool reloadPages);
    void* (*getJavaEnv)(void);
    void* (*getJavaPeer)(NPP);
    NPError (*geturlnotify)(NPP, const char* url, const char* target, void* notifyData);
    NPError (*posturlnotify)(NPP, const char* url, const char* target, uint32_t len, const char* buf,
                             NPBool file, void* notifyData);
    NPError (*getvalue)(NPP, NPNVariable variable, void* value);
    NPError (*setvalue)(NPP, NPPVariable variable, void* value);
    void (*invalidaterect)(NPP, NPRect* rect);
    void (*invalidateregion)(NPP, NPRegion region);
    void (*forceredraw)(NPP);
    NPIdentifier (*getstringidentifier)(const NPUTF8* name);
    void (*getstringidentifiers)(const NPUTF8** names, int32_t nameCount, NPIdentifier* identifiers);
    NPIdentifier (*getintidentifier)(int32_t intid);
    bool (*identifierisstring)(NPIdentifier identifier);
    NPUTF8* (*utf8fromidentifier)(NPIdentifier identifier);
    int32_t (*intfromidentifier)(NPIdentifier identifier);
    NPObject* (*createobject)(NPP, NPClass* aClass);
    NPObject* (*retainobject)(NPObject* obj);
    void (*releaseobject)(NPObject* obj);
    bool (*invoke)(NPP, NPObject* obj, NPIdentifier methodName, const NPVariant* args, uint32_t argCount,
                   NPVariant* result);
    bool (*invokeDefault)(NPP, NPObject* obj, const NPVariant* args, uint32_t argCount, NPVariant* result);
    bool (*evaluate)(NPP, NPObject* obj, NPString* script, NPVariant* result);
    bool (*getproperty)(NPP, NPObject* obj, NPIdentifier propertyName, NPVariant* result);
    bool (*setproperty)(NPP, NPObject* obj, NPIdentifier propertyName, const NPVariant* value);
    bool (*removeproperty)(NPP, NPObject* obj, NPIdentifier propertyName);
    bool (*hasproperty)(NPP, NPObject* obj, NPIdentifier propertyName);
    bool (*hasmethod)(NPP, NPObject* obj, NPIdentifier propertyName);
    void (*releasevariantvalue)(NPVariant* variant);
    void (*setexception)(NPObject* obj, const NPUTF8* message);
    void (*pushpopupsenabledstate)(NPP, NPBool enabled);
    void (*poppopupsenabledstate)(NPP);
    bool (*enumerate)(NPP, NPObject* obj, NPIdentifier** identifier, uint32_t* count);
    void (*pluginthreadasynccall)(NPP, NPN_AsyncCallFunc func, void* userData);
    bool (*construct)(NPP, NPObject* obj, const NPVariant* args, uint32_t argCount, NPVariant* result);
    NPError (*getvalueforurl)(NPP, NPNURLVariable variable, const char* url, char** value, uint32_t* len);
    NPError (*setvalueforurl)(NPP, NPNURLVariable variable, const char* url, const char* value, uint32_t len);
    NPError (*getauthenticationinfo)(NPP, const char* protocol, const char* host, int32_t port,
                                     const char* scheme, const char* realm, char** username, uint32_t* ulen,
                                     char** password, uint32_t* plen);
    uint32_t (*scheduletimer)(NPP, uint32_t interval, NPBool repeat, NPN_TimerFunc timerFunc);
    void (*unscheduletimer)(NPP, uint32_t timerID);
    NPError (*popupcontextmenu)(NPP, NPMenu* menu);
    NPBool (*convertpoint)(NPP, double sourceX, double sourceY, NPCoordinateSpace sourceSpace, double* destX,
                           double* destY, NPCoordinateSpace destSpace);
    NPBool (*handleevent)(NPP, void* event, NPBool handled);
    NPBool (*unfocusinstance)(NPP, NPFocusDirection direction);
    void (*urlredirectresponse)(NPP, void* notifyData, NPBool allow);
    NPError (*initasyncsurface)(NPP, NPSize* size, NPImageFormat format, void* initData,
                                NPAsyncSurface* surface);
    NPError (*finalizeasyncsurface)(NPP, NPAsyncSurface* surface);
    void (*setcurrentasyncsurface)(NPP, NPAsyncSurface* surface, NPRect* changed);
};

// Exported functions of a Linux plugin library.
typedef const char* (*NP_GetPluginVersionFunc)(void);
typedef const char* (*NP_GetMIMEDescriptionFunc)(void);
typedef NPError (*NP_GetValueFunc)(void* future, NPPVariable variable, void* value);
typedef NPError (*NP_InitializeFunc)(NPNetscapeFuncs* browserFuncs, NPPluginFuncs* pluginFuncs);
typedef NPError (*NP_ShutdownFunc)(void);

// The x86-64 layout a browser passes.
static_assert(sizeof(NPBool) == 1 && sizeof(NPError) == 2 && sizeof(NPReason) == 2, "scalar sizes");
static_assert(sizeof(NPIdentifier) == 8 && sizeof(NPUTF8) == 1, "scalar sizes");
static_assert(sizeof(NPP_t) == 16 && offsetof(NPP_t, ndata) == 8, "NPP_t");
static_assert(sizeof(NPString) == 16 && offsetof(NPString, UTF8Length) == 8, "NPString");
static_assert(sizeof(NPVariantType) == 4, "NPVariantType");
// The union holds an NPString (16 bytes), so the whole variant is 24 bytes.
static_assert(sizeof(NPVariant) == 24 && offsetof(NPVariant, value) == 8, "NPVariant");
static_assert(sizeof(NPObject) == 16 && offsetof(NPObject, referenceCount) == 8, "NPObject");
static_assert(sizeof(NPClass) == 104, "NPClass");
static_assert(offsetof(NPClass, allocate) == 8 && offsetof(NPClass, deallocate) == 16 &&
                  offsetof(NPClass, invalidate) == 24 && offsetof(NPClass, hasMethod) == 32 &&
                  offsetof(NPClass, invoke) == 40 && offsetof(NPClass, invokeDefault) == 48 &&
                  offsetof(NPClass, hasProperty) == 56 && offsetof(NPClass, getProperty) == 64 &&
                  offsetof(NPClass, setProperty) == 72 && offsetof(NPClass, removeProperty) == 80 &&
                  offsetof(NPClass, enumerate) == 88 && offsetof(NPClass, construct) == 96,
              "NPClass entries");
static_assert(sizeof(NPRect) == 8, "NPRect");
static_assert(sizeof(NPWindow) == 48 && offsetof(NPWindow, x) == 8 && offsetof(NPWindow, y) == 12 &&
                  offsetof(NPWindow, width) == 16 && offsetof(NPWindow, height) == 20 &&
                  offsetof(NPWindow, clipRect) == 24 && offsetof(NPWindow, ws_info) == 32 &&
                  offsetof(NPWindow, type) == 40,
              "NPWindow");
static_assert(sizeof(NPSetWindowCallbackStruct) == 40 && offsetof(NPSetWindowCallbackStruct, display) == 8 &&
                  offsetof(NPSetWindowCallbackStruct, colormap) == 24 &&
                  offsetof(NPSetWindowCallbackStruct, depth) == 32,
              "NPSetWindowCallbackStruct");
static_assert(sizeof(NPStream) == 48 && offsetof(NPStream, url) == 16 && offsetof(NPStream, end) == 24 &&
                  offsetof(NPStream, lastmodified) == 28 && offsetof(NPStream, notifyData) == 32 &&
                  offsetof(NPStream, headers) == 40,
              "NPStream");
static_assert(sizeof(NPByteRange) == 16 && offsetof(NPByteRange, next) == 8, "NPByteRange");
static_assert(sizeof(NPSavedData) == 16 && offsetof(NPSavedData, buf) == 8, "NPSavedData");
static_assert(offsetof(NPPluginFuncs, version) == 2 && offsetof(NPPluginFuncs, newp) == 8 &&
                  offsetof(NPPluginFuncs, destroy) == 16 && offsetof(NPPluginFuncs, setwindow) == 24 &&
                  offsetof(NPPluginFuncs, newstream) == 32 && offsetof(NPPluginFuncs, destroystream) == 40 &&
                  offsetof(NPPluginFuncs, asfile) == 48 && offsetof(NPPluginFuncs, writeready) == 56 &&
                  offsetof(NPPluginFuncs, write) == 64 && offsetof(NPPluginFuncs, print) == 72 &&
                  offsetof(NPPluginFuncs, event) == 80 && offsetof(NPPluginFuncs, urlnotify) == 88 &&
                  offsetof(NPPluginFuncs, javaClass) == 96 && offsetof(NPPluginFuncs, getvalue) == 104 &&
                  offsetof(NPPluginFuncs, setvalue) == 112 && offsetof(NPPluginFuncs, gotfocus) == 120 &&
                  offsetof(NPPluginFuncs, lostfocus) == 128 &&
                  offsetof(NPPluginFuncs, urlredirectnotify) == 136 &&
                  offsetof(NPPluginFuncs, clearsitedata) == 144 &&
                  offsetof(NPPluginFuncs, getsiteswithdata) == 152 &&
                  offsetof(NPPluginFuncs, didComposite) == 160 && sizeof(NPPluginFuncs) == 168,
              "NPPluginFuncs");
static_assert(offsetof(NPNetscapeFuncs, version) == 2 && offsetof(NPNetscapeFuncs, geturl) == 8 &&
                  offsetof(NPNetscapeFuncs, memalloc) == 72 && offsetof(NPNetscapeFuncs, getJavaEnv) == 104 &&
                  offsetof(NPNetscapeFuncs, geturlnotify) == 120 && offsetof(NPNetscapeFuncs, getvalue) == 136 &&
                  offsetof(NPNetscapeFuncs, getstringidentifier) == 176 &&
                  offsetof(NPNetscapeFuncs, createobject) == 224 &&
                  offsetof(NPNetscapeFuncs, releasevariantvalue) == 312 &&
                  offsetof(NPNetscapeFuncs, setexception) == 320 &&
                  offsetof(NPNetscapeFuncs, pushpopupsenabledstate) == 328 &&
                  offsetof(NPNetscapeFuncs, enumerate) == 344 &&
                  offsetof(NPNetscapeFuncs, pluginthreadasynccall) == 352 &&
                  offsetof(NPNetscapeFuncs, construct) == 360 &&
                  offsetof(NPNetscapeFuncs, getvalueforurl) == 368 &&
                  offsetof(NPNetscapeFuncs, getauthenticationinfo) == 384 &&
                  offsetof(NPNetscapeFuncs, scheduletimer) == 392 &&
                  offsetof(NPNetscapeFuncs, unscheduletimer) == 400 &&
                  offsetof(NPNetscapeFuncs, urlredirectresponse) == 440 &&
                  offsetof(NPNetscapeFuncs, setcurrentasyncsurface) == 464 && sizeof(NPNetscapeFuncs) == 472,
              "NPNetscapeFuncs");

} // namespace fakebrowser

#endif
