// What snaphost reads from the volume manager: lvs and vgs reports, and the tags in them, as
// any text. The first byte chooses the reader.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ownership.h"
#include "volumeManager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] % 2 == 0) {
        for (const snaphost::LogicalVolume& lv : snaphost::parseVolumeReport(text)) {
            snaphost::runOf(lv.tags);
            (void)(lv.isSnapshot() || lv.isInvalid() || lv.isOpen() || lv.isThin());
        }
    } else {
        snaphost::parseGroupReport(text);
    }
    return 0;
}
