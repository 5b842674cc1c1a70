#include "core/edit/DialogExchange.h"

namespace corvane {

TDialogExchange DialogExchange;
int ItemSaved = 0;

bool RunHandOver(const std::function<void()>& showModal) {
    DialogExchange.DlgResult = 0;
    showModal();
    return DialogExchange.DlgResult == 1;
}

void PutFileCondition(int mode, const FileConditionRow& row) {
    DialogExchange.DlgMode = mode;
    DialogExchange.DlgFilePath = row.FilePath;
    DialogExchange.DlgIsFolder = row.isFolder;
    DialogExchange.DlgFileDecide = row.decide;
}

FileConditionRow TakeFileCondition() {
    return {DialogExchange.DlgFilePath, DialogExchange.DlgIsFolder, DialogExchange.DlgFileDecide};
}

void PutRegCondition(int mode, const RegConditionRow& row) {
    DialogExchange.DlgMode = mode;
    DialogExchange.DlgRoot = row.root;
    DialogExchange.DlgKeyPath = row.KeyPath;
    DialogExchange.DlgKeyValue = row.KeyValue;
    DialogExchange.DlgKeyType = row.KeyType;
    DialogExchange.DlgValueText = row.compareValue;
    DialogExchange.DlgRegDecide = row.decide;
    DialogExchange.DlgPathAbs = row.PathAbs;
}

RegConditionRow TakeRegCondition() {
    const TDialogExchange& x = DialogExchange;
    return {x.DlgRoot,      x.DlgKeyPath,   x.DlgKeyValue, x.DlgKeyType,
            x.DlgValueText, x.DlgRegDecide, x.DlgPathAbs};
}

void PutFileAction(int mode, const FileActionRow& row) {
    DialogExchange.DlgMode = mode;
    DialogExchange.DlgFilePath = row.FilePath;
    DialogExchange.DlgFromPath = row.FromPath;
    DialogExchange.DlgFileDecide = row.decide;
}

FileActionRow TakeFileAction() {
    return {DialogExchange.DlgFilePath, DialogExchange.DlgFromPath, DialogExchange.DlgFileDecide};
}

void PutRegAction(int mode, const RegActionRow& row) {
    DialogExchange.DlgMode = mode;
    DialogExchange.DlgRoot = row.root;
    DialogExchange.DlgKeyPath = row.KeyPath;
    DialogExchange.DlgKeyValue = row.KeyValue;
    DialogExchange.DlgKeyType = row.KeyType;
    DialogExchange.DlgValueText = row.ValueContent;
    DialogExchange.DlgRegDecide = row.decide;
    DialogExchange.DlgPathAbs = row.PathAbs;
    DialogExchange.DlgCreate = row.create;
    DialogExchange.DlgList = row.list;
}

RegActionRow TakeRegAction() {
    const TDialogExchange& x = DialogExchange;
    return {x.DlgRoot,      x.DlgKeyPath, x.DlgKeyValue, x.DlgKeyType, x.DlgValueText,
            x.DlgRegDecide, x.DlgPathAbs, x.DlgCreate,   x.DlgList};
}

} // namespace corvane
