// The details of one found item: its description, the conditions that decided it with
// what was observed, and what its repair would do or, once it ran, what it did.
#pragma once

#include <QDialog>
#include <vector>

#include "core/engine/RuleTriggered.h"
#include "core/run/Preview.h"

class QLabel;
class QTreeWidget;
class QPushButton;

namespace corvane {

class TfrmDetails : public QDialog {
    Q_OBJECT

public:
    TfrmDetails(const QString& name, const QString& description,
                const std::vector<MatchedCondition>& matched,
                const std::vector<PreviewAction>& changes, bool done, QWidget* owner = nullptr);

    QLabel* lblName = nullptr;
    QLabel* lblDescription = nullptr;
    QLabel* lblMatched = nullptr;
    QTreeWidget* tvMatched = nullptr; // condition, target, observed
    QLabel* lblPreview = nullptr;
    QTreeWidget* tvPreview = nullptr; // action, target, now, after
    QPushButton* bntClose = nullptr;
};

} // namespace corvane
