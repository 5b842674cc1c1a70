#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/engine/DetectionWalk.h"

namespace corvane {
namespace {

// Writes down every call it gets, and ends the walk at call number `stopAt`.
class Tracer : public DetectionVisitor {
public:
    explicit Tracer(std::size_t stopAt) : stopAt_(stopAt) {}
    std::vector<std::string> calls;

    bool beginDocument(const std::string& join) override { return note("doc " + join); }
    bool beginGroup(RuleGroupKind kind, const std::string& mode, std::size_t count) override {
        return note("group " + Kind(kind) + " " + mode + " " + std::to_string(count));
    }
    bool fileCondition(const FileConditionRow& r) override {
        return note("file " + r.FilePath + "|" + r.isFolder + "|" + r.decide);
    }
    bool regCondition(const RegConditionRow& r) override {
        return note("reg " + r.root + "|" + r.KeyPath + "|" + r.KeyValue + "|" + r.KeyType + "|" +
                    r.compareValue + "|" + r.decide + "|" + r.PathAbs);
    }
    bool endGroup(RuleGroupKind kind) override { return note("end " + Kind(kind)); }
    bool skippedGroup(const std::optional<std::string>& opttype) override {
        return note("skip " + opttype.value_or("(none)"));
    }

private:
    static std::string Kind(RuleGroupKind kind) {
        return kind == RuleGroupKind::Files ? "files" : "regedit";
    }
    bool note(std::string call) {
        calls.push_back(std::move(call));
        return calls.size() != stopAt_;
    }
    std::size_t stopAt_;
};

// A visitor given a walk recorded ahead of time sees what the walk of the text shows
// it, wherever the visitor ends it, and the walk ends the same way. One recording is
// used for every document, so that nothing of a longer document before shows.
TEST(DetectionWalk, AReplayedWalkIsTheWalkOfTheText) {
    const std::string decl = "<?xml version=\"1.0\" encoding=\"GB2312\"?>";
    const std::string file = "<CHdb FilePath=\"%windir%\\a\" isFolder=\"1\" decide=\"file\"/>";
    const std::string reg = "<CHdb root=\"HKLM\" KeyPath=\"K\" KeyValue=\"V\" KeyType=\"REG_SZ\" "
                            "compareValue=\"c\" decide=\"Value=\" PathAbs=\"1\"/>";
    const std::string texts[] = {
        decl + "<rules join=\"and\"><type opttype=\"files\" mode=\"or\">" + file + file +
            "</type><type opttype=\"x\"/><type/><type opttype=\"regedit\" mode=\"and\">" + reg +
            reg + reg + "</type></rules>",
        // A missing attribute after a rule that read.
        decl + "<rules><type opttype=\"regedit\" mode=\"or\">" + reg + "<CHdb root=\"HKLM\"/>" +
            reg + "</type></rules>",
        // A group without its mode.
        decl + "<rules><type opttype=\"files\" mode=\"or\">" + file +
            "</type><type opttype=\"files\">" + file + "</type></rules>",
        "not a document",
        decl + "<rules/>",
    };
    DetectionWalk walk;
    for (const std::string& text : texts) {
        walk.record(text);
        Tracer whole(0);
        const WalkResult result = WalkDetectionDocument(text, whole);
        for (std::size_t stopAt = 0; stopAt <= whole.calls.size(); ++stopAt) {
            Tracer direct(stopAt), replayed(stopAt);
            const WalkResult directResult = WalkDetectionDocument(text, direct);
            EXPECT_EQ(walk.replay(replayed), directResult) << text << " stop " << stopAt;
            EXPECT_EQ(replayed.calls, direct.calls) << text << " stop " << stopAt;
        }
        Tracer all(0);
        EXPECT_EQ(walk.replay(all), result) << text;
    }
}

} // namespace
} // namespace corvane
