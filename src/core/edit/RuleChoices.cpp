#include "core/edit/RuleChoices.h"

namespace corvane {

namespace {

bool IsEditOrCopy(int mode) {
    return mode == DlgModeEdit || mode == DlgModeCopy;
}

} // namespace

std::string_view FileRuleCaption(int mode) {
    if (mode == DlgModeEdit) return "编辑文件规则";
    if (mode == DlgModeCopy) return "复制文件规则";
    return "添加文件规则";
}

std::string_view RegRuleCaption(int mode) {
    if (mode == DlgModeEdit) return "编辑注册表规则";
    if (mode == DlgModeCopy) return "复制注册表规则";
    return "添加注册表规则";
}

FileConditionForm FileConditionStart(const TDialogExchange& x) {
    FileConditionForm form;
    form.caption = FileRuleCaption(x.DlgMode);
    if (!IsEditOrCopy(x.DlgMode)) return form;
    form.FilePath = x.DlgFilePath;
    form.kind = x.DlgIsFolder == "0" ? 0 : 1;
    form.trigger = PositionOfStored(kFileTriggers, x.DlgFileDecide, 0);
    return form;
}

void FileConditionAccept(TDialogExchange& x, std::string_view filePath, std::string_view kindShown,
                         std::string_view triggerShown) {
    x.DlgFilePath = filePath;
    x.DlgResult = 1;
    x.DlgIsFolder = StoredOfShown(kFileKinds, kindShown, "1");
    x.DlgFileDecide = StoredOfShown(kFileTriggers, triggerShown, RuleWords::kNoFile);
}

int MatchModeStart(const TDialogExchange& x) {
    return x.DlgMatchMode == RuleWords::kAnd ? 1 : 0;
}

void MatchModeAccept(TDialogExchange& x, int position) {
    x.DlgMatchMode = std::string(position == 1 ? RuleWords::kAnd : RuleWords::kOr);
    x.DlgResult = 1;
}

FileActionForm FileActionStart(const TDialogExchange& x) {
    FileActionForm form;
    form.caption = FileRuleCaption(x.DlgMode);
    if (!IsEditOrCopy(x.DlgMode)) return form;
    form.FilePath = x.DlgFilePath;
    form.FromPath = x.DlgFromPath;
    form.action = PositionOfStored(kFileActions, x.DlgFileDecide, 0);
    return form;
}

void FileActionAccept(TDialogExchange& x, std::string_view filePath, std::string_view fromPath,
                      std::string_view actionShown) {
    x.DlgFilePath = filePath;
    x.DlgResult = 1;
    if (actionShown == kFileActions[0].shown) {
        x.DlgFileDecide = RuleWords::kDelete;
        x.DlgFromPath.clear();
    } else if (actionShown == kFileActions[2].shown) {
        x.DlgFileDecide = RuleWords::kMakeFolder;
        x.DlgFromPath.clear();
    } else {
        x.DlgFileDecide = RuleWords::kCopy;
        x.DlgFromPath = fromPath;
    }
}

FileActionLayout FileActionLayoutFor(int action) {
    if (action == 1) return {"目标文件", true};
    if (action == 2) return {"文件夹位置", false};
    return {"文件位置", false};
}

namespace {

// A list's stored text (entries separated by line feeds) as typed in the dialog, and
// back.
std::string Replaced(std::string text, char from, char to) {
    for (char& c : text)
        if (c == from) c = to;
    return text;
}

} // namespace

namespace {

// The start values common to both registry dialogs.
RegForm RegStart(const TDialogExchange& x) {
    RegForm form;
    form.caption = RegRuleCaption(x.DlgMode);
    if (!IsEditOrCopy(x.DlgMode)) return form;
    form.root = PositionOfStored(kRootChoices, x.DlgRoot, kRootFallback);
    form.KeyPath = x.DlgKeyPath;
    form.KeyValue = x.DlgKeyValue;
    form.ValueText = x.DlgValueText;
    form.pathAbs = x.DlgPathAbs == "1";
    return form;
}

void RegAcceptCommon(TDialogExchange& x, const RegShown& shown, std::string_view pathAbsOff) {
    x.DlgRoot = StoredOfShown(kRootChoices, shown.root, "HKLM");
    x.DlgResult = 1;
    x.DlgKeyPath = shown.KeyPath;
    x.DlgKeyValue = shown.KeyValue;
    x.DlgValueText = shown.ValueText;
    x.DlgKeyType = shown.type;
    x.DlgPathAbs = shown.pathAbs ? "1" : pathAbsOff;
}

} // namespace

namespace {

bool IsListCondition(std::string_view decide) {
    return decide == RuleWords::kListEquals || decide == RuleWords::kListDiffers;
}

} // namespace

RegForm RegConditionStart(const TDialogExchange& x) {
    RegForm form = RegStart(x);
    if (!IsEditOrCopy(x.DlgMode)) return form;
    form.type = PositionOfName(kConditionTypes, x.DlgKeyType, 0);
    form.decide = PositionOfStored(kRegTriggers, x.DlgRegDecide, kRegTriggerFallback);
    if (IsListCondition(x.DlgRegDecide))
        form.ValueText = Replaced(x.DlgValueText, RuleWords::kListSeparator, kListShownSeparator);
    return form;
}

void RegConditionAccept(TDialogExchange& x, const RegShown& shown) {
    // A list opened and left as it stands keeps its stored text.
    const std::string storedList = x.DlgValueText;
    const bool listKept =
        IsEditOrCopy(x.DlgMode) && IsListCondition(x.DlgRegDecide) &&
        Replaced(storedList, RuleWords::kListSeparator, kListShownSeparator) == shown.ValueText;
    RegAcceptCommon(x, shown, "0");
    x.DlgRegDecide = StoredOfShown(kRegTriggers, shown.decide, RuleWords::kValueExists);
    if (IsListCondition(x.DlgRegDecide)) {
        // A list condition reads a REG_MULTI_SZ whatever the type box says.
        x.DlgKeyType = RuleWords::kListType;
        x.DlgValueText =
            listKept ? storedList
                     : Replaced(shown.ValueText, kListShownSeparator, RuleWords::kListSeparator);
    }
    if (x.DlgRegDecide == RuleWords::kKeyExists || x.DlgRegDecide == RuleWords::kNoKey) {
        x.DlgKeyType.clear();
        x.DlgValueText.clear();
    }
}

RegLayout RegConditionLayoutFor(int trigger) {
    switch (trigger) {
    case 2:
    case 3:
        return {"值名称", true, false};
    case 4:
    case 5:
    case 6:
    case 7:
        return {"值名称", true, true};
    default: // the key conditions, and no selection
        return {"键名称", false, false};
    }
}

RegForm RegActionStart(const TDialogExchange& x) {
    RegForm form = RegStart(x);
    if (!IsEditOrCopy(x.DlgMode)) return form;
    form.type = PositionOfName(kActionTypes, x.DlgKeyType, 0);
    // A REG_MULTI_SZ is a list only with `list` "1"; without, it writes nothing and
    // opens as the default type, as it always did.
    if (x.DlgList == "1" && x.DlgKeyType == RuleWords::kListType) {
        form.type = kListTypePosition;
        form.ValueText = Replaced(x.DlgValueText, RuleWords::kListSeparator, kListShownSeparator);
    }
    form.decide = PositionOfStored(kRegActions, x.DlgRegDecide, kRegActionFallback);
    form.create = x.DlgCreate == "1";
    return form;
}

bool RegActionRefused(const RegShown& shown) {
    return shown.type == "REG_BINARY" && shown.decide == kRegActions[1].shown;
}

bool RegActionAccept(TDialogExchange& x, const RegShown& shown) {
    if (RegActionRefused(shown)) return false;
    // A list opened and left as it stands keeps its stored text, also when an entry
    // holds the separator the box shows.
    const std::string storedList = x.DlgValueText;
    const bool listKept =
        IsEditOrCopy(x.DlgMode) && x.DlgList == "1" && x.DlgKeyType == RuleWords::kListType &&
        Replaced(storedList, RuleWords::kListSeparator, kListShownSeparator) == shown.ValueText;
    RegAcceptCommon(x, shown, "");
    x.DlgCreate.clear();
    x.DlgList.clear();
    if (shown.decide == kRegActions[1].shown) {
        x.DlgRegDecide = RuleWords::kSetValue;
        if (shown.create) x.DlgCreate = "1";
        if (shown.type == RuleWords::kListType) {
            x.DlgList = "1";
            x.DlgValueText = listKept ? storedList
                                      : Replaced(shown.ValueText, kListShownSeparator,
                                                 RuleWords::kListSeparator);
        }
        return true;
    }
    x.DlgRegDecide =
        shown.decide == kRegActions[0].shown ? RuleWords::kDelKey : RuleWords::kDelValue;
    x.DlgValueText.clear();
    x.DlgKeyType.clear();
    return true;
}

RegLayout RegActionLayoutFor(int action) {
    if (action == 0) return {"键", false, false};
    if (action == 1) return {"值", true, true, true};
    return {"值", false, false};
}

} // namespace corvane
