// Starting and stopping the message system: the locale, the message object, the catalogs.
#include <langinfo.h>
#include <syslog.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "mem/checkedAlloc.h"
#include "nls/nlsInternal.h"
#include "pisnp/codesets.h"
#include "pisnp/dates.h"
#include "pisnp/resultCodes.h"
#include "pisnp/strings.h"
#include "pisnp/traceFlags.h"

char Locale[85];
char Language[85];
char CodePage[85];
char arcLocale[85];
int CodePageId;
int actualNLSCode;
int logMsgCodepage;
int msgReposCodepage;
int displayCodepage;
int inputCodepage = 1;

namespace {

static_assert(offsetof(nlsObject_t, insertScratch) % alignof(wchar_t) == 0,
              "the wide insert engine writes wide text into the scratch area");

// Languages with a catalog of their own (compared without regard to case).
constexpr const char* kSupported[] = {"en_US", "cs_CZ", "de_DE", "es_ES", "fr_FR",
                                      "hu_HU", "it_IT", "pl_PL", "pt_BR", "ru_RU",
                                      "zh_CN", "zh_TW", "ko_KR", "Ja_JP"};
// Normalised names whose texts are shown in UTF-8 whatever the locale's code set says.
constexpr const char* kUtf8Languages[] = {"CS_CZ", "EN_US", "DE_DE", "ES_ES", "FR_FR",
                                          "HU_HU", "IT_IT", "PL_PL", "PT_BR", "RU_RU",
                                          "ZH_CN", "ZH_TW", "KO_KR", "JA_JP"};
struct Alias {
    const char* from;
    const char* to;
};
constexpr Alias kAliases[] = {{"C", "EN_US"},        {"POSIX", "EN_US"},  {"ja", "JA_JP"},
                              {"japanese", "JA_JP"}, {"zh", "ZH_CN"},     {"chinese", "ZH_CN"},
                              {"ko", "KO_KR"},       {"korean", "KO_KR"}, {"tchinese", "ZH_TW"}};

void defaultSink(char* text) {
    std::fputs(text, stdout);
}

}  // namespace

int psEnvInit(int mode) {
    const char* arg = mode == 1 ? "" : nullptr;
    std::setlocale(LC_ALL, arg);
    nlsLocaleSeparators();

    const char* codeSet = nl_langinfo(CODESET);
    const char* name = std::getenv("LANG");
    if (name == nullptr || *name == '\0') name = std::setlocale(LC_MESSAGES, arg);
    if (name == nullptr) name = "C";
    nlsCopy(CodePage, codeSet != nullptr ? codeSet : "");
    nlsCopy(Locale, name);
    nlsCopy(Language, name);
    if (char* dot = std::strchr(Language, '.')) *dot = '\0';

    for (const Alias& a : kAliases) {
        if (std::strcmp(Language, a.from) != 0) continue;
        if (std::strcmp(a.to, "EN_US") == 0 && mode == 1) std::setlocale(LC_CTYPE, "en_US");
        nlsCopy(Language, a.to);
        break;
    }
    bool supported = false;
    for (const char* s : kSupported) supported = supported || strcasecmp(Language, s) == 0;
    if (!supported) return 1;

    nlsCopy(arcLocale, Language);
    StrUpper(arcLocale);
    bool utf8 = std::strcmp(CodePage, "UTF-8") == 0 || std::strcmp(CodePage, "UTF8") == 0;
    for (const char* s : kUtf8Languages) utf8 = utf8 || std::strcmp(Language, s) == 0;
    if (utf8) nlsCopy(CodePage, "UTF-8");
    return 4;
}

nlsObject_t* newNlsGlobalObject(void (**outputs)(char*), int mode) {
    // What an earlier start left in the object would be lost to the zeroing below.
    destroyNlsGlobalCache();
    if (gNlsObject.reposName != nullptr) ARC_FREE(gNlsObject.reposName);
    std::memset(static_cast<void*>(&gNlsObject), 0, sizeof gNlsObject);
    actualNLSCode = psEnvInit(mode);
    psNlsInit();
    gNlsObject.schedLineStart = 1;
    gNlsObject.localCat = gNlsObject.englishCat = reinterpret_cast<nl_catd>(-1);
    for (int i = 0; i < 9; ++i)
        gNlsObject.outputs[i] =
            outputs != nullptr && outputs[i] != nullptr ? outputs[i] : defaultSink;
    nlsCopy(gNlsObject.msgPrefix, "ANS");
    return &gNlsObject;
}

nlsObject_t* newDefaultNlsGlobalObject() {
    return newNlsGlobalObject(nullptr, 1);
}

void destroyNlsGlobalCache() {
    gNlsObject.FlushNLSCache(&gNlsObject.localCache);
    gNlsObject.FlushNLSCache(&gNlsObject.englishCache);
}

int destroyNlsGlobalObject() {
    destroyNlsGlobalCache();
    if (gNlsObject.reposName != nullptr) ARC_FREE(gNlsObject.reposName);
    gNlsObject.reposName = nullptr;
    return psNlsTerm();
}

nlsObject_t* getNlsGlobalObjectHandle() {
    return &gNlsObject;
}

void setNlsGlobalObjectMsgPrefix(char* prefix) {
    nlsCopy(gNlsObject.msgPrefix, prefix != nullptr ? prefix : "");
}

int NlinitSetup(char* reposName, char* reposFile, int cacheSize, char* dsDir, cliType_t clientType,
                unsigned int dateFmt, unsigned int timeFmt, unsigned int numberFmt,
                nlsReturnInfo_t* retInfo) {
    if (retInfo != nullptr) {
        retInfo->dateFmt = dateFmt;
        retInfo->timeFmt = timeFmt;
        retInfo->numberFmt = numberFmt;
    }
    setDateFmt(static_cast<int>(dateFmt));
    setTimeFmt(static_cast<int>(timeFmt));
    setNumberFmt(static_cast<int>(numberFmt));
    if (gNlsObject.initialised == 1) return 0;
    char defaultFile[] = "arcclientV3.cat";
    return gNlsObject.initMsgSys(
        reposName, reposFile != nullptr && *reposFile != '\0' ? reposFile : defaultFile, clientType,
        cacheSize, dsDir, retInfo);
}

int nlinit(char* reposName, int cacheSize, char* dsDir, cliType_t clientType, unsigned int dateFmt,
           unsigned int timeFmt, unsigned int numberFmt, nlsReturnInfo_t* retInfo,
           char* reposFile) {
    if (reposName == nullptr || *reposName == '\0') return PISNP_RC_MSG_SYS_START_FAILED;
    logMsgCodepage = TEST_OEMLOGMSGS.on != 0 ? 1 : 0;
    msgReposCodepage = TEST_ANSINLSREPOS.on != 0 ? 0 : 2;
    displayCodepage = TEST_OEMDISPLAY.on != 0 ? 1 : 0;
    if (TEST_ANSIINPUT.on != 0) inputCodepage = 0;
    if (retInfo != nullptr) nlsCopy(retInfo->name, reposName);
    gNlsObject.clientType = clientType;
    date_fmt = dateFmt;
    time_fmt = timeFmt;
    number_fmt = numberFmt;
    int rc = NlinitSetup(reposName, reposFile, cacheSize, dsDir, clientType, dateFmt, timeFmt,
                         numberFmt, retInfo);
    setDateFmt();
    setTimeFmt();
    setNumberFmt();
    gNlsObject.initialised = 1;
    gNlsObject.consoleTimeStamp = 0;
    return rc;
}

int nlinit(wchar_t* reposName, int cacheSize, wchar_t* dsDir, cliType_t clientType,
           unsigned int dateFmt, unsigned int timeFmt, unsigned int numberFmt,
           nlsReturnInfo_t* retInfo, wchar_t* reposFile) {
    auto narrow = [](const wchar_t* in, char* out, size_t size) {
        *out = '\0';
        if (in == nullptr || *in == L'\0') return;
        size_t n = std::wcstombs(out, in, size - 1);
        out[n == static_cast<size_t>(-1) ? 0 : n] = '\0';
    };
    char name[kNlsReposNameMax], dir[kNlsDirMax], file[kNlsDirMax];
    narrow(reposName, name, sizeof name);
    narrow(dsDir, dir, sizeof dir);
    narrow(reposFile, file, sizeof file);
    return nlinit(name, cacheSize, dir, clientType, dateFmt, timeFmt, numberFmt, retInfo, file);
}

int nlterm() {
    int rc = gNlsObject.termMsgSys();
    gNlsObject.initialised = 0;
    return rc;
}

void getDefaultLangAbbrev(char* out) {
    std::strcpy(out, "enu");
}

void getDefaultLangRepos(char* out, int, char*) {
    std::sprintf(out, "%s/%s", Language, kNlsCatalogFile);
    char* slash = std::strchr(out, '/');
    *slash = '\0';
    StrUpper(out);
    *slash = '/';
}

void psLogMsg(short sev, char* text, int enabled) {
    if (enabled != 0 && sev == nlsSevSevere) syslog(LOG_ERR, "%s", text);
}

int queryRegistryForLanguages() {
    return 0;
}

int psSetCodePage() {
    return 0;
}

void psConvertOemString(char*) {}
