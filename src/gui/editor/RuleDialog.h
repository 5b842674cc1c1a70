// What the small dialogs of the rule editor share: fixed size, only a system menu,
// the program's font, centred over the main window, and the boxes they are built of.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QString>
#include <array>
#include <string>
#include <string_view>

#include "core/edit/RuleChoices.h"
#include "gui/ui/WindowKit.h"

class QGridLayout;
class QLabel;
class QPushButton;

namespace corvane {

// Centres a dialog over the main window; without one over its opener, else the screen.
void CentreOverMainWindow(QDialog& dialog);

class TRuleDialog : public QDialog {
    Q_OBJECT

public:
    explicit TRuleDialog(const char* objectName, QWidget* parent);

protected:
    void showEvent(QShowEvent* event) override;

    // Rows of label and box, top to bottom.
    QGridLayout* rows() const { return rows_; }
    QLabel* addLabel(const char* name, std::string_view text, int row);
    // A list the user picks from, or a box the user types into.
    QComboBox* addFixedList(const char* name, int row);
    QComboBox* addFreeText(const char* name, int row);
    // The OK and cancel buttons, right-aligned under the rows, OK first and default.
    void addButtons(QPushButton* ok, QPushButton* cancel);
    QPushButton* makeButton(const char* name, std::string_view text);

private:
    QGridLayout* rows_ = nullptr;
};

using ui::ToQ;
using ui::ToStd;
template <std::size_t N> void AddItems(QComboBox* box, const std::array<Choice, N>& list) {
    for (const Choice& c : list)
        box->addItem(ToQ(c.shown));
}
template <std::size_t N>
void AddItems(QComboBox* box, const std::array<std::string_view, N>& list) {
    for (std::string_view name : list)
        box->addItem(ToQ(name));
}

} // namespace corvane
