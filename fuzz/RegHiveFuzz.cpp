// Fuzz target for the registry file reader and writer: any text must load without a
// crash, a leak or undefined behaviour; a file loaded and saved unchanged must come
// back byte for byte; and a value set must leave every other key and value as they
// were read, while the new value reads back.
//
// The first byte picks the key the value is set on and whether it replaces a value
// the key has; the rest is the file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/Platform.h"
#include "core/platform/Utf.h"
#include "core/platform/wine/RegHive.h"

namespace {

using namespace corvane;
using namespace corvane::wine;

void CheckAt(bool condition, int line) {
    if (!condition) {
        std::fprintf(stderr, "check failed at line %d\n", line);
        std::abort();
    }
}
#define Check(c) CheckAt((c), __LINE__)

struct NoCaseLess {
    bool operator()(const std::u16string& a, const std::u16string& b) const {
        return CompareNoCase(a, b) < 0;
    }
};
// A key's values as Wine reads them: one per name, the later entry winning.
using Values =
    std::map<std::u16string, std::pair<std::uint32_t, std::vector<std::uint8_t>>, NoCaseLess>;
// Every key by its path, with its values.
using Keys = std::map<std::u16string, Values>;

void Collect(RegHive& hive, RegNode& node, const std::u16string& path, Keys& keys,
             std::vector<RegNode*>& nodes) {
    Values& values = keys[path];
    for (RegValue& value : hive.values(node))
        values[value.name] = {value.type, std::move(value.data)};
    nodes.push_back(&node);
    for (auto& child : node.children)
        Collect(hive, *child, path + u"\\" + child->name, keys, nodes);
}

std::u16string PathOf(const RegNode& node) {
    std::u16string path;
    for (const RegNode* n = &node; n->parent; n = n->parent)
        path = u"\\" + n->name + path;
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t pick = data[0];
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

    RegHive hive("/nonexistent/fuzz.reg");
    hive.loadText(text);
    if (hive.state() != RegHive::State::Loaded) return 0;
    Check(hive.toText() == text);

    Keys before;
    std::vector<RegNode*> nodes;
    Collect(hive, hive.root(), u"", before, nodes);
    if (nodes.size() < 2) return 0;
    RegNode& target = *nodes[1 + pick % (nodes.size() - 1)];
    const std::u16string targetPath = PathOf(target);
    Values& targetValues = before[targetPath];
    RegValue value{u"fuzz \"new\"\n", RegType::Sz, Utf16ToBytes(u"v\\al\x4e2d")};
    value.data.insert(value.data.end(), {0, 0});
    if ((pick & 0x80) && !targetValues.empty()) {
        value.name = targetValues.begin()->first;
        value.type = RegType::Binary;
        value.data.assign(100, pick);
    }
    hive.setValue(target, value);
    targetValues.erase(value.name);
    const std::string written = hive.toText();

    RegHive again("/nonexistent/fuzz.reg");
    again.loadText(written);
    Check(again.state() == RegHive::State::Loaded);
    Keys after;
    nodes.clear();
    Collect(again, again.root(), u"", after, nodes);
    Values& newValues = after[targetPath];
    const auto set = newValues.find(value.name);
    Check(set != newValues.end() && set->second.first == value.type &&
          set->second.second == value.data);
    newValues.erase(set);
    Check(after == before);
    return 0;
}
