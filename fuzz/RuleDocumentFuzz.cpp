// Fuzz target for the rule document readers: any text must read without a crash, a
// leak or undefined behaviour, and whatever rows it gives must survive being written
// and read again unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/engine/RuleDocument.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvane;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    DetectionRows detection;
    ReadDetectionDocument(text, detection);
    std::string written;
    if (WriteDetectionDocument(detection, written)) {
        DetectionRows back;
        Check(ReadDetectionDocument(written, back));
        Check(back.FilesMatchMode == detection.FilesMatchMode);
        Check(back.RegMatchMode == detection.RegMatchMode);
        Check(back.files == detection.files);
        Check(back.registry == detection.registry);
    }

    RepairRows repair;
    ReadRepairDocument(text, repair);
    if (WriteRepairDocument(repair, written)) {
        RepairRows back;
        Check(ReadRepairDocument(written, back));
        Check(back.files == repair.files);
        Check(back.registry == repair.registry);
    }
    return 0;
}
