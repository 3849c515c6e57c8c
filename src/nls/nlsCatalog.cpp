// The message catalogs: opening the American English and the localized catalog, reading and
// decoding entries, and the two caches of decoded records.
#include <dlfcn.h>
#include <langinfo.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "base/report.h"
#include "base/sysCalls.h"
#include "mem/checkedAlloc.h"
#include "nls/nlsInternal.h"
#include "pisnp/codesets.h"
#include "pisnp/resultCodes.h"
#include "pisnp/strings.h"
#include "pisnp/threads.h"
#include "pisnp/traceFlags.h"
#include "text/textAssert.h"

nlsObject_t gNlsObject;
pthread_mutex_t* nls_mutex = nullptr;

namespace {

pthread_mutex_t gNlsMutexStorage;

const nl_catd kClosed = reinterpret_cast<nl_catd>(-1);
constexpr size_t kPathLimit = kNlsReposNameMax;  // every path composed here stays below it
constexpr size_t kConvertLimit = 8767;
constexpr size_t kRecordOverhead = 45;
constexpr char kRespMark = 0x12;
constexpr char kStoredZero = 0x10;
// catgets hands this back for a missing entry; it is only ever compared, never shown.
constexpr char kNotFound[] = "ANS1111M Error retrieving message %d from arcclientV3.cat.\n";
constexpr char kWarnNoRepository[] =
    "ANS0102W Unable to open the message repository %s. The American English repository will "
    "be used instead.\n";
constexpr char kWarnNoConverter[] =
    "ANS0121W Unable to open the iconv converter for the message repository %s. The American "
    "English repository will be used instead.\n";

// Language codes of two letters and their catalog directories.
struct LangRow {
    char two[3];
    char five[6];
};
constexpr LangRow lang2To5[] = {
    {"CZ", "CS_CZ"}, {"DE", "DE_DE"}, {"EN", "EN_US"}, {"ES", "ES_ES"}, {"FR", "FR_FR"},
    {"HU", "HU_HU"}, {"IT", "IT_IT"}, {"JA", "JA_JP"}, {"KO", "KO_KR"}, {"PL", "PL_PL"},
    {"PT", "PT_BR"}, {"RU", "RU_RU"}, {"ZH", "ZH_CN"},
};

// An object that was never started holds null handles, a closed one -1.
bool isOpen(nl_catd cat) {
    return cat != kClosed && cat != nullptr;
}

bool converterOpen() {
    return psNlsInfo != nullptr && psNlsInfo->utf8ToLocal != nullptr &&
           psNlsInfo->utf8ToLocal != reinterpret_cast<iconv_t>(-1);
}

bool converterInvalid() {
    return psNlsInfo != nullptr && psNlsInfo->utf8ToLocal == reinterpret_cast<iconv_t>(-1);
}

// The severity code of an identifier's letter; -1 for M (no record), -2 for any other letter.
int severityOf(char letter) {
    static constexpr char kLetters[] = "ZTRKIWESL";
    if (letter == 'M') return -1;
    const char* p = letter != '\0' ? std::strchr(kLetters, letter) : nullptr;
    return p != nullptr ? static_cast<int>(p - kLetters) : -2;
}

bool keepsIdentifier(int sev) {
    return sev >= nlsSevK && sev <= nlsSevSevere;
}

// Replaces the object's repository name with a copy of name (kept as it was when none can be
// had: it only names the repository in a warning).
void rememberRepository(const char* name) {
    char* copy = StrDup(name);
    if (copy == nullptr) return;
    if (gNlsObject.reposName != nullptr) ARC_FREE(gNlsObject.reposName);
    gNlsObject.reposName = copy;
}

const char* repositoryShown() {
    return gNlsObject.reposName != nullptr ? gNlsObject.reposName : "";
}

// Composes one of the reader's own messages in the work buffer and sends it to an output.
template <typename... Args>
void reportOwn(int sev, const char* fmt, Args... args) {
    std::snprintf(gNlsObject.workBuf, sizeof gNlsObject.workBuf, fmt, args...);
    msgOut(sev, gNlsObject.workBuf);
}

// "ANS9999E" for a message that is missing or corrupted: shown, traced and logged.
void reportCatalogProblem(unsigned line, unsigned int msgNum, const char* what) {
    char text[160];
    std::snprintf(text, sizeof text, "ANS9999E %s(%u): Message No %u %s.\n", __FILE_NAME__, line,
                  msgNum, what);
    msgOut(nlsSevError, text);
    REPORT_TRACE(TR_NLS, "%s", text);
    pisnp::report::logLine(text);
}

// The path dir "/" lang "/" file into out, false when it would reach kPathLimit.
bool joinPath(char* out, const char* dir, const char* lang, const char* file) {
    if (std::strlen(dir) + std::strlen(lang) + std::strlen(file) + 2 >= kPathLimit) return false;
    std::snprintf(out, kPathLimit, "%s/%s/%s", dir, lang, file);
    return true;
}

// Where the catalogs are when the caller names no directory: ARC_DIR when it is set; else next to
// the library itself when an English catalog lies there (a build tree, or a host that keeps the
// library with its catalogs); else the data directory the library was installed with.
const char* defaultDirectory() {
    const char* dir = std::getenv("ARC_DIR");
    if (dir != nullptr && *dir != '\0') return dir;
    static char own[kNlsDirMax];
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&defaultDirectory), &info) != 0 &&
        info.dli_fname != nullptr) {
        std::snprintf(own, sizeof own, "%s", info.dli_fname);
        char* slash = std::strrchr(own, '/');
        *(slash != nullptr ? slash : own) = '\0';
        char probe[kPathLimit];
        struct stat st;
        if (joinPath(probe, own, "EN_US", kNlsCatalogFile) && pisnp::sys::stat(probe, &st) == 0)
            return own;
    }
    return PISNP_DATA_DIR;
}

}  // namespace

void msgOut(int sev, char* text) {
    if (sev < 0 || sev > nlsSevL || text == nullptr) return;
    // A private copy: the sink may keep or change what it is given.
    auto* copy = static_cast<char*>(ARC_MALLOC(kNlsWorkBufSize));
    if (copy == nullptr) return;
    std::snprintf(copy, kNlsWorkBufSize, "%s", text);
    if (gNlsObject.outputs[sev] != nullptr) gNlsObject.outputs[sev](copy);
    ARC_FREE(copy);
}

size_t nlsBodyOffset(const nlsMsg* m) {
    return keepsIdentifier(m->severity) ? 9 : 0;
}

nlsMsg* nlsDecodeEntry(const char* entry, unsigned int msgNum, EntryStatus* status) {
    *status = EntryStatus::corrupted;
    size_t len = std::strlen(entry);
    if (len < 5) return nullptr;
    size_t letterAt = 4;
    while (letterAt < len && std::isdigit(static_cast<unsigned char>(entry[letterAt])) != 0)
        ++letterAt;
    int sev = severityOf(entry[letterAt]);
    if (sev == -1) {
        *status = EntryStatus::noRecord;
        return nullptr;
    }
    if (sev < 0) return nullptr;

    char response[16] = "";
    for (size_t i = len; i-- > (len > 15 ? len - 15 : 0);) {
        if (entry[i] == kRespMark) {
            std::snprintf(response, sizeof response, "%.14s", entry + i + 1);
            break;
        }
    }

    // Five-digit identifiers are shown with four: the digit after the prefix goes.
    const char* head = entry;
    size_t headLen = 0;
    const char* rest = entry;
    if (keepsIdentifier(sev)) {
        if (letterAt >= 8) {
            head = entry;
            headLen = 3;
            rest = entry + 4;
        }
    } else {
        rest = letterAt + 2 <= len ? entry + letterAt + 2 : entry + len;
    }
    size_t restLen = std::strlen(rest);
    size_t textLen = headLen + restLen;

    size_t size = textLen + kRecordOverhead;
    auto* m = static_cast<nlsMsg*>(ARC_CALLOC(1, size));
    if (m == nullptr) {
        *status = EntryStatus::noMemory;
        return nullptr;
    }
    m->number = static_cast<unsigned short>(msgNum);
    m->severity = static_cast<unsigned char>(sev);
    std::memcpy(m->response, response, sizeof response);

    char* text = m->text;
    size_t room = size - offsetof(nlsMsg, text) - 1;  // keeps a terminator
    std::memcpy(text, head, headLen);
    std::memcpy(text + headLen, rest, restLen);
    if (converterOpen() && textLen > 0) {
        // The kind byte of a printf body, or the binary head of a compiled one, stays raw.
        size_t raw = text[0] == 0x01 ? 1 : std::min<size_t>(4, textLen);
        unsigned long written = 0;
        // Converted from the catalog's own copy: iconv must not read what it is overwriting.
        char* from = const_cast<char*>(rest) + (raw - headLen);
        int rc = psUTF8ToLocal(from, textLen - raw, text + raw,
                               std::min(kConvertLimit, room - raw) + 1, &written);
        REPORT_TRACE(TR_NLS, "rc %d, Input length %d, written %d\n", rc,
                     static_cast<int>(textLen - raw), static_cast<int>(written));
        textLen = raw + written;
    }
    text[textLen] = '\0';

    if (char* mark = static_cast<char*>(memrchr(text, kRespMark, textLen))) {
        *mark = '\0';
        textLen = static_cast<size_t>(mark - text);
    }

    // The catalog cannot hold zero bytes, so the message compiler stored them as 0x10.
    auto restore = [&](size_t i) {
        if (i < textLen && text[i] == kStoredZero) text[i] = '\0';
    };
    if (textLen > 0 && text[0] == 0x01) {
        for (size_t i = 1; i < textLen; ++i) restore(i);
    } else {
        restore(0);
        for (size_t i = 0; i < 3; ++i)
            if (textLen > 1 && (static_cast<unsigned char>(text[1]) & (8u >> i)) != 0)
                restore(2 + i);
        for (size_t i = 5; i < textLen; ++i) restore(i);
    }
    // Only bodies the insert engine can format without reading past the record are kept.
    size_t body = nlsBodyOffset(m);
    if (textLen <= body || !nlsBodyAcceptable(text + body, textLen - body + 1)) {
        ARC_FREE(m);
        return nullptr;
    }
    *status = EntryStatus::ok;
    return m;
}

int nlsObject_t::openCat(const char* dsdir, const char* lang, const char* reposFile, void*& catP) {
    REPORT_TRACE(TR_NLS, "openCat(): dsdir '%s', lang '%s', reposFile '%s'\n", dsdir, lang,
                 reposFile);
    const char* file = *reposFile != '\0' ? reposFile : kNlsCatalogFile;
    if (std::strlen(dsdir) + std::strlen(lang) + 2 +
            std::max(std::strlen(reposFile), sizeof kNlsCatalogFile - 1) >=
        kPathLimit) {
        REPORT_TRACE(TR_NLS, "openCat(): The passed arguments are too long\n");
        return 2;
    }
    char path[kPathLimit];
    joinPath(path, dsdir, lang, file);
    errno = 0;
    catP = catopen(path, NL_CAT_LOCALE);
    const char* tried = path;
    if (!isOpen(catP)) {
        errno = 0;
        catP = catopen(reposFile, NL_CAT_LOCALE);
        tried = reposFile;
    }
    int err = errno;
    REPORT_TRACE(TR_NLS, "catopen() returned %p (%d) errno = %d '%s'\n", catP,
                 isOpen(catP) ? 0 : -1, err, tried);
    if (isOpen(catP)) return 0;

    // The locale's name may carry a code set, or be a two-letter language code.
    size_t size = std::max<size_t>(std::strlen(lang) + 1, 33);
    auto* copy = static_cast<char*>(ARC_MALLOC(size));
    if (copy == nullptr) return 2;
    std::snprintf(copy, size, "%s", std::strcmp(lang, "zh_TW.BIG5") == 0 ? "Zh_TW" : lang);
    if (char* dot = std::strchr(copy, '.')) {
        *dot = '\0';
    } else if (std::strlen(copy) == 2) {
        const LangRow* row =
            std::find_if(std::begin(lang2To5), std::end(lang2To5),
                         [&](const LangRow& r) { return !std::strcmp(r.two, lang); });
        if (row == std::end(lang2To5)) {
            REPORT_TRACE(
                TR_NLS, "Language specification \"%s\" not found, substituting US English\n", lang);
            std::snprintf(copy, size, "EN_US");
        } else {
            std::snprintf(copy, size, "%s", row->five);
        }
    }
    if (!joinPath(path, dsdir, copy, reposFile)) {
        REPORT_TRACE(TR_NLS, "openCat(): The passed arguments are too long\n");
        ARC_FREE(copy);
        return 2;
    }
    ARC_FREE(copy);
    catP = catopen(path, NL_CAT_LOCALE);
    if (isOpen(catP)) return 0;
    rememberRepository(path);
    return 2;
}

int nlsObject_t::initMsgSys(char* reposName, char* reposFile, cliType_t clientType, int cacheSize,
                            const char* dsDir, nlsReturnInfo_t* retInfo) {
    if (dsDir == nullptr) dsDir = defaultDirectory();
    if ((reposName != nullptr && std::strlen(reposName) >= kPathLimit) ||
        std::strlen(dsDir) >= static_cast<size_t>(kNlsDirMax))
        return PISNP_RC_MSG_SYS_START_FAILED;
    // The plug-in and the programming interface live in someone else's process: they read its
    // locale and leave it as it is.
    const char* localeArg = clientType == ctCLAPI || clientType == ctUtlAppl ? nullptr : "";

    localCat = kClosed;
    cacheLimit = static_cast<unsigned int>(cacheSize);
    if (nls_mutex == nullptr) {
        if (arcMutexInit(&gNlsMutexStorage, nullptr) != 0) return PISNP_RC_MSG_SYS_START_FAILED;
        nls_mutex = &gNlsMutexStorage;
    }

    const char* localFile = kNlsCatalogFile;
    const char* englishFile = kNlsCatalogFile;
    bool named = reposName != nullptr && *reposName != '\0';
    if (named) {
        FlushNLSCache(&localCache);
        FlushNLSCache(&englishCache);
        if (clientType == ctUtlAppl || clientType == ctCLUtlAppl || clientType == ctGUIUtlAppl) {
            localFile = reposName;
            englishFile = reposFile != nullptr ? reposFile : "";
        }
    }

    void* english = kClosed;
    if (openCat(dsDir, "EN_US", englishFile, english) != 0) {
        reportOwn(nlsSevWarning, kWarnNoRepository, repositoryShown());
        return PISNP_RC_MSG_SYS_START_FAILED;
    }
    englishCat = english;
    if (!named || reposFile == nullptr) {
        localCat = englishCat;
        return 0;
    }

    rememberRepository(reposName);
    void* local = kClosed;
    int rc = 2;
    if (arcLocale[0] == '\0') {
        std::setlocale(LC_ALL, localeArg);
        const char* name = std::setlocale(LC_MESSAGES, localeArg);
        if (name == nullptr) name = "C";
        if (std::strcmp(name, "C") == 0) name = "EN_US";
        std::snprintf(arcLocale, sizeof arcLocale, "%s", name);
        StrUpper(arcLocale);
        if (retInfo != nullptr) std::snprintf(retInfo->name, sizeof retInfo->name, "%s", name);
        if (std::strcmp(arcLocale, "C") != 0)
            rc = openCat(dsDir, converterInvalid() ? "EN_US" : arcLocale, localFile, local);
    } else if (!converterInvalid()) {
        // A repository named with a path brings its own language directory.
        const char* slash = std::strrchr(localFile, '/');
        if (slash == nullptr) {
            rc = openCat(dsDir, arcLocale, localFile, local);
        } else {
            char lang[kPathLimit];
            const char* start = slash;
            while (start > localFile && start[-1] != '/') --start;
            std::snprintf(lang, sizeof lang, "%.*s", static_cast<int>(slash - start), start);
            rc = openCat(dsDir, lang, slash + 1, local);
        }
    } else {
        reportOwn(nlsSevWarning, kWarnNoConverter, CodePage);
        rc = openCat(dsDir, "EN_US", localFile, local);
    }
    if (rc == 0) {
        localCat = local;
        return 0;
    }

    std::snprintf(arcLocale, sizeof arcLocale, "EN_US");
    if (retInfo != nullptr) std::snprintf(retInfo->name, sizeof retInfo->name, "EN_US");
    localCat = englishCat;
    bool fits =
        std::strlen(dsDir) + std::strlen(Language) + 2 + std::strlen(localFile) < kPathLimit;
    reportOwn(nlsSevWarning, kWarnNoRepository, fits ? repositoryShown() : "???");
    return 0;
}

int nlsObject_t::termMsgSys() {
    if (englishRepos != nullptr) {
        if (localRepos != nullptr && localRepos != englishRepos) {
            std::fflush(localRepos);
            std::fclose(localRepos);
        }
        std::fclose(englishRepos);
    } else if (localRepos != nullptr) {
        std::fflush(localRepos);
        std::fclose(localRepos);
    }
    localRepos = englishRepos = nullptr;
    if (isOpen(localCat)) catclose(localCat);
    if (isOpen(englishCat) && englishCat != localCat) catclose(englishCat);
    localCat = englishCat = kClosed;
    int rc = 0;
    if (nls_mutex != nullptr) {
        rc = psMutexDestroy(nls_mutex);
        nls_mutex = nullptr;
    }
    return rc;
}

nlsMsg* nlsObject_t::ReadMsg(unsigned int msgNum, int english) {
    nl_catd cat = english != 0 ? englishCat : localCat;
    if (!isOpen(cat)) {
        char text[] = "Cannot get an NLS message due to catalog file is closed\n";
        REPORT_TRACE(TR_NLS, "%s", text);
        pisnp::report::logLine(text);
        return nullptr;
    }
    errno = 0;
    const char* entry = catgets(cat, 1, static_cast<int>(msgNum), kNotFound);
    REPORT_TRACE(TR_NLS, "catgets() for message %u returned %s (errno %d)\n", msgNum,
                 entry == kNotFound ? "the default" : "an entry", errno);
    if (entry == nullptr || std::strcmp(entry, kNotFound) == 0) {
        reportCatalogProblem(__LINE__, msgNum, "could not be found");
        return nullptr;
    }
    EntryStatus status;
    nlsMsg* m = nlsDecodeEntry(entry, msgNum, &status);
    switch (status) {
        case EntryStatus::ok:
        case EntryStatus::noRecord:
            break;
        case EntryStatus::corrupted:
            reportCatalogProblem(__LINE__, msgNum, "is corrupted");
            break;
        case EntryStatus::noMemory:
            std::snprintf(workBuf, sizeof workBuf,
                          "ANS0109E Insufficient memory for allocation of message structure.\n");
            msgOut(nlsSevError, workBuf);
            pisnp::report::messageIssued(PISNP_RC_CATALOG_FAILURE);
            REPORT_TRACE(TR_NLS, "%s", workBuf);
            break;
    }
    return m;
}

nlsMsg* nlsObject_t::GetMsg(unsigned int msgNum) {
    REPORT_TRACE(TR_NLS, "Searching for message number: %d\n", msgNum);
    nlsMsg** list = englishFlag != 0 ? &englishCache : &localCache;
    unsigned int count = 0;
    if (nlsMsg* head = *list) {
        nlsMsg* m = head;
        do {
            ++count;
            if (m->number == msgNum) {
                REPORT_TRACE(TR_NLS, "Found message: %d in cache.\n", msgNum);
                // Taking the head out and putting it back in front leaves the ring as it is.
                if (m != head) {
                    DeleteList(list, m);
                    AddList(list, m);
                }
                englishFlag = 0;
                return m;
            }
            m = m->next;
        } while (m != head);
    }
    int wasEnglish = englishFlag;
    nlsMsg* m = ReadMsg(msgNum, englishFlag);
    if (m == nullptr && wasEnglish == 0) m = ReadMsg(msgNum, 1);
    englishFlag = 0;
    if (m == nullptr) return nullptr;
    if (count >= cacheLimit && *list != nullptr) {
        nlsMsg* oldest = (*list)->prev;
        REPORT_TRACE(TR_NLS, "Deleting message: %d from the cache.\n", oldest->number);
        DeleteList(list, oldest);
        ARC_FREE(oldest);
    }
    REPORT_TRACE(TR_NLS, "Adding message: %d to the cache.\n", msgNum);
    AddList(list, m);
    return m;
}

unsigned short nlsObject_t::ReadIndex(unsigned int msgNum, int english) {
    NlsLock lock;
    FILE* stream;
    if (english != 0) {
        if (localRepos == nullptr) localRepos = englishRepos;
        stream = englishRepos;
    } else {
        if (localRepos == nullptr) localRepos = englishRepos;
        stream = localRepos;
    }
    unsigned long offset = 64 * ((msgNum - 1) / 32 + 1) + 2 * ((msgNum - 1) % 32);
    REPORT_TRACE(TR_NLS, "ReadIndex: msgNum %d indexOffset = %u\n", msgNum,
                 static_cast<unsigned>(offset));
    unsigned char bytes[2];
    if (stream == nullptr || msgNum == 0 ||
        std::fseek(stream, static_cast<long>(offset), SEEK_SET) != 0 ||
        std::fread(bytes, 1, 2, stream) != 2) {
        reportOwn(nlsSevError,
                  "ANS0105E Error trying to read index for message %u from repository '%s'.\n",
                  msgNum, repositoryShown());
        pisnp::report::messageIssued(PISNP_RC_CATALOG_FAILURE);
        return 0;
    }
    auto index = static_cast<unsigned short>((bytes[0] << 8) | bytes[1]);
    REPORT_TRACE(TR_NLS, "ReadIndex: msgIndex = %u\n", index);
    if (index == 0) {
        reportOwn(nlsSevError, "ANS0106E Message index not found for message %u.\n", msgNum);
        pisnp::report::logLine(workBuf);
        pisnp::report::messageIssued(PISNP_RC_CATALOG_FAILURE);
    }
    return index;
}

void nlsObject_t::AddList(nlsMsg** head, nlsMsg* m) {
    TEXT_ASSERT(m->next == nullptr, "nlsMsgP->next == __null");
    if (*head == nullptr) {
        m->next = m->prev = m;
    } else {
        nlsMsg* tail = (*head)->prev;
        m->next = *head;
        m->prev = tail;
        tail->next = m;
        (*head)->prev = m;
    }
    *head = m;
}

void nlsObject_t::DeleteList(nlsMsg** head, nlsMsg* m) {
    TEXT_ASSERT(m->next != nullptr, "nlsMsgP->next != __null");
    TEXT_ASSERT(m->prev != nullptr, "nlsMsgP->prev != __null");
    if (m->next == m) {
        *head = nullptr;
    } else {
        m->prev->next = m->next;
        m->next->prev = m->prev;
        if (*head == m) *head = m->next;
    }
    m->next = m->prev = nullptr;
}

void nlsObject_t::FlushNLSCache(nlsMsg** head) {
    while (nlsMsg* m = *head) {
        REPORT_TRACE(TR_NLS, "Flushing cache entry for message: %d\n", m->number);
        DeleteList(head, m);
        ARC_FREE(m);
    }
}
