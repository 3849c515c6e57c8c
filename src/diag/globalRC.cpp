#include "diag/globalRC.h"

#include <algorithm>

#include "nls/nlsMessageApi.h"

GlobalRC* gRC = nullptr;

namespace {

// Messages that only warn, whatever their catalog severity says.
const int kWarningMessages[] = {
    326,   1086,  1115,  1136,  1147,  1154,  1159,  1228,  1242,  1243,  1269,  1413,  1469,
    1753,  1754,  1802,  1803,  1804,  1946,  1947,  2838,  3008,  5154,  5279,  5823,  9085,
    9098,  9101,  9134,  9137,  9256,  9288,  9289,  9290,  9294,  9733,  9951,  9958,  14005,
    14007, 14008, 14017, 14018, 14025, 14037, 14042, 14044, 14045, 14077, 14084, 14973, 14987,
};

int codeOf(int msgNum) {
    if (std::find(std::begin(kWarningMessages), std::end(kWarningMessages), msgNum) !=
        std::end(kWarningMessages))
        return 4;
    if (msgNum == 9999) return 12;
    switch (nlGetMsgSev(msgNum)) {
        case nlsSevWarning:
            return 8;
        case nlsSevK:
        case nlsSevError:
        case nlsSevSevere:
            return 12;
        default:
            return 0;
    }
}

}  // namespace

int GlobalRC::set(int msgNum) {
    int code = codeOf(msgNum);
    std::lock_guard<std::mutex> lock(mutex_);
    if (rc_ >= code) return 0;
    rc_ = code;
    rcMacroMax_ = std::max(rcMacroMax_, code);
    rcMax_ = std::max(rcMax_, code);
    return 1;
}

int GlobalRC::get() {
    std::lock_guard<std::mutex> lock(mutex_);
    return rc_;
}

int GlobalRC::getMax() {
    std::lock_guard<std::mutex> lock(mutex_);
    return rcMax_;
}

int GlobalRC::clearAllRC() {
    std::lock_guard<std::mutex> lock(mutex_);
    rc_ = rcMacroMax_ = rcMax_ = 0;
    return 1;
}
