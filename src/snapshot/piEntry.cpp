// The plug-in entry points: what the host calls first (piQueryApp, piSnapshotInit) and last
// (piTerminate).
#include "pisnp/plugin.h"

#include <cstring>

#include "mem/checkedAlloc.h"
#include "pisnp/messages.h"
#include "pisnp/pools.h"
#include "pisnp/resultCodes.h"
#include "pisnp/snapshotProvider.h"
#include "pisnp/snapshotRegistry.h"
#include "pisnp/strings.h"
#include "snapshot/hostServices.h"

piHostServices_t* sharedUtilP = nullptr;
piSnapAttrib_t gSnapAttrib = {};

namespace {

constexpr char kAppName[] = "PISNAPSHOT";
constexpr char kBanner[] =
    "******************************************************\n"
    "Snapshot Utility\n"
    "******************************************************";
static_assert(sizeof kBanner - 1 == 54 + 1 + 17 + 54);

// The message system reads the host's catalog with the plug-in's settings: a small cache, the
// utility client type and the locale's own date, time and number formats.
constexpr int kNlsCacheSize = 10;
constexpr unsigned int kFormatFromLocale = 0;

// Opens the host's message catalogs with the host's repository name and client directory.
int startMessages() {
    piHostOptions_t* options = sharedUtilP != nullptr ? sharedUtilP->options : nullptr;
    // Without options there is no repository name, which the message system refuses.
    const char* repository = options != nullptr ? options->msgRepository : "";
    const char* dir = options != nullptr ? options->clientDir : "";

    char* repositoryCopy = StrDup(repository);
    char* dirCopy = *dir != '\0' ? StrDup(dir) : nullptr;
    int rc;
    if (repositoryCopy == nullptr || (*dir != '\0' && dirCopy == nullptr)) {
        rc = PISNP_RC_NO_MEMORY;
    } else {
        nlsReturnInfo_t retInfo;
        rc = nlinit(repositoryCopy, kNlsCacheSize, dirCopy, ctUtlAppl, kFormatFromLocale,
                    kFormatFromLocale, kFormatFromLocale, &retInfo, nullptr);
    }
    if (dirCopy != nullptr) ARC_FREE(dirCopy);
    if (repositoryCopy != nullptr) ARC_FREE(repositoryCopy);
    return rc;
}

// Undoes start-up as far as it went: piTerminate and a failed piSnapshotInit share it, so that a
// new piSnapshotInit after either starts from nothing.
int tearDown() {
    DssGlobalData::gdDestroyDssGlobalData();
    nlterm();
    int rc = mpDestroyAll();
    arcFreeMemoryList();
    return rc;
}

// Forgets the start-up provider (it is registered) and undoes the rest of start-up.
int16_t failStartUp(DssSnapshotProvider* provider, int rc) {
    if (provider != nullptr) {
        DssGlobalData::gdRemoveSnapshotInstance(provider->getSnapshotID());
        DssGlobalData::gdDisposeSnapshotInstance(provider);
    }
    tearDown();
    return static_cast<int16_t>(rc);
}

}  // namespace

const char* getSnapLibName() {
    return "libPiSNP.so";
}

piSnapAttrib_t* getSnapAttrib() {
    gSnapAttrib.attribVersion = 1;
    gSnapAttrib.attribLevel = 2;
    gSnapAttrib.providerType = 2;
    gSnapAttrib.capabilities = 9;
    gSnapAttrib.reserved16 = 0;
    return &gSnapAttrib;
}

int piQueryApp(void*, piAppInfo_t* info) {
    if (info == nullptr) return PISNP_RC_INVALID_ARG;
    info->infoVersion = 3;
    std::strcpy(info->appName, kAppName);
    std::strcpy(info->libName, getSnapLibName());
    std::strcpy(info->banner, kBanner);
    info->appKind = 8;
    info->apiVersion = 1;
    info->apiRelease = 10;
    info->level = 9;
    info->reserved1328 = 0;
    info->extra[0] = '\0';

    piSnapAttrib_t* attrib = getSnapAttrib();
    if (info->hostAttrib != nullptr) std::memcpy(info->hostAttrib, attrib, sizeof *attrib);
    info->capabilities = attrib->capabilities;
    return 0;
}

// A start-up that fails leaves nothing behind (no registry, pools or message system), so that the
// host can call again, for instance after piQueryApp, and get a full start.
int16_t piSnapshotInit(piSnapshotInitIn_t* in, piSnapshotInitOut_t* out) {
    if (in == nullptr || out == nullptr) return PISNP_RC_INVALID_ARG;
    // First of all, so that every later step can trace.
    sharedUtilP = in->hostServices;

    int existed = 0;
    int rc = DssGlobalData::gdCreateDssGlobalData(&existed, in->providerInfo);
    if (rc != 0 && existed == 0) return failStartUp(nullptr, rc);
    if (existed != 0) {
        SNAP_TRACE("piSnapshotInit(): Invalid snapshotHandle='%d' or snapProviderP is null\n",
                   DssGlobalData::gdGetSnapProviderHandle());
        return static_cast<int16_t>(rc);
    }

    mpPoolInit();
    if (newNlsGlobalObject(nullptr, 1) == nullptr) return failStartUp(nullptr, PISNP_RC_NO_MEMORY);
    rc = startMessages();
    if (rc != 0) return failStartUp(nullptr, rc);

    unsigned int id = DssGlobalData::gdGetNextSnapshotID();
    DssSnapshotProvider* provider =
        createSnapProvider(id, nullptr, nullptr, nullptr, 0, 0, 0, 0, nullptr);
    // Without a provider the library still runs: the host's snapshots get providers of their own.
    if (provider == nullptr) return 0;

    rc = DssGlobalData::gdSetSnapProviderHandle(id);
    if (rc == 0) rc = DssGlobalData::gdAddSnapshotInstance(provider);
    if (rc != 0) {
        // Not registered, so nothing else would ever delete it.
        delete provider;
        return failStartUp(nullptr, rc);
    }

    out->versionMajor = 0;
    out->versionMinor = 0;
    rc = provider->initSnapshotProvider(&out->versionMajor, &out->versionMinor);
    if (rc != 0) {
        SNAP_TRACE("piSnapshotInit(): initSnapshotProvider() failed rc=<%d>.\n", rc);
        bkpSnapshotErrorInfo_t error;
        provider->getErrorInfo(&error);
        DssGlobalData::gdSetSnapError(&error);
        return failStartUp(provider, rc);
    }
    SNAP_TRACE("piSnapshotInit(): Snapshot Provider <%d>, Version<%d>.<%d>\n",
               gSnapAttrib.providerType, out->versionMajor, out->versionMinor);
    return 0;
}

int piTerminate() {
    unsigned int handle = DssGlobalData::gdGetSnapProviderHandle();
    if (DssSnapshotProvider* provider = DssGlobalData::gdGetSnapshotInstance(handle)) {
        provider->termSnapshotProvider();
        DssGlobalData::gdRemoveSnapshotInstance(handle);
        DssGlobalData::gdDisposeSnapshotInstance(provider);
    }
    return tearDown();
}
