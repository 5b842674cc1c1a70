// A detection document walked ahead of time: what the walk met, kept in order, to be
// given to a visitor later, on another thread if need be. The scan walks the next
// items' documents while the items before them are evaluated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/engine/RuleDocument.h"

namespace corvane {

class DetectionWalk {
public:
    // Walks `text` to its end, keeping every call the walk makes and how it ended.
    // What was kept before is dropped (the room is kept for the next document).
    void record(std::string_view text);
    // Makes the kept calls on `visitor` in order, as WalkDetectionDocument would on the
    // same text: the visitor may end the walk at any call (Stopped); otherwise the walk
    // ends as the recorded one did (Finished, or ReadFailure after what came before).
    WalkResult replay(DetectionVisitor& visitor) const;

private:
    enum class Call : std::uint8_t { Document, Group, File, Registry, EndGroup, Skipped };
    struct Step {
        Call call;
        RuleGroupKind kind;
        std::size_t index; // into the texts or rows of its call; a group's rule count
        std::size_t text;  // a group's mode, the document's join
    };
    std::vector<Step> steps_;
    std::vector<std::string> texts_;
    std::vector<std::optional<std::string>> skipped_;
    std::vector<FileConditionRow> files_;
    std::vector<RegConditionRow> registry_;
    std::size_t fileCount_ = 0, registryCount_ = 0, textCount_ = 0;
    WalkResult result_ = WalkResult::ReadFailure;
};

} // namespace corvane
