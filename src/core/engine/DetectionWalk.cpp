#include "core/engine/DetectionWalk.h"

namespace corvane {

namespace {

// Keeps `value` in the next slot of `slots`, reusing a slot's room when it has one.
template <typename T> std::size_t Keep(std::vector<T>& slots, std::size_t& used, const T& value) {
    if (used < slots.size())
        slots[used] = value;
    else
        slots.push_back(value);
    return used++;
}

} // namespace

void DetectionWalk::record(std::string_view text) {
    steps_.clear();
    skipped_.clear();
    fileCount_ = registryCount_ = textCount_ = 0;
    class Recorder : public DetectionVisitor {
    public:
        explicit Recorder(DetectionWalk& walk) : w_(walk) {}
        bool beginDocument(const std::string& join) override {
            w_.steps_.push_back(
                {Call::Document, RuleGroupKind::Files, 0, Keep(w_.texts_, w_.textCount_, join)});
            return true;
        }
        bool beginGroup(RuleGroupKind kind, const std::string& mode, std::size_t count) override {
            w_.steps_.push_back({Call::Group, kind, count, Keep(w_.texts_, w_.textCount_, mode)});
            return true;
        }
        bool fileCondition(const FileConditionRow& row) override {
            w_.steps_.push_back(
                {Call::File, RuleGroupKind::Files, Keep(w_.files_, w_.fileCount_, row), 0});
            return true;
        }
        bool regCondition(const RegConditionRow& row) override {
            w_.steps_.push_back({Call::Registry, RuleGroupKind::Registry,
                                 Keep(w_.registry_, w_.registryCount_, row), 0});
            return true;
        }
        bool endGroup(RuleGroupKind kind) override {
            w_.steps_.push_back({Call::EndGroup, kind, 0, 0});
            return true;
        }
        bool skippedGroup(const std::optional<std::string>& opttype) override {
            w_.skipped_.push_back(opttype);
            w_.steps_.push_back({Call::Skipped, RuleGroupKind::Files, w_.skipped_.size() - 1, 0});
            return true;
        }

    private:
        DetectionWalk& w_;
    } recorder(*this);
    result_ = WalkDetectionDocument(text, recorder);
}

WalkResult DetectionWalk::replay(DetectionVisitor& visitor) const {
    for (const Step& step : steps_) {
        bool go = true;
        switch (step.call) {
        case Call::Document:
            go = visitor.beginDocument(texts_[step.text]);
            break;
        case Call::Group:
            go = visitor.beginGroup(step.kind, texts_[step.text], step.index);
            break;
        case Call::File:
            go = visitor.fileCondition(files_[step.index]);
            break;
        case Call::Registry:
            go = visitor.regCondition(registry_[step.index]);
            break;
        case Call::EndGroup:
            go = visitor.endGroup(step.kind);
            break;
        case Call::Skipped:
            go = visitor.skippedGroup(skipped_[step.index]);
            break;
        }
        if (!go) return WalkResult::Stopped;
    }
    return result_;
}

} // namespace corvane
