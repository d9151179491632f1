#pragma once

class QDialog;
class QDialogButtonBox;
class QLabel;
class QMessageBox;
class QWidget;

// OK (the default button) and, with withCancel, Cancel, with the string table's texts and
// wired to the dialog's accept and reject. The caller puts the box into its layout.
QDialogButtonBox* OkCancelButtons(QDialog* dialog, bool withCancel = true);
// Gives a message box's OK, Yes, No and Cancel buttons the string table's texts.
void LabelMessageBoxButtons(QMessageBox& box);
// A label with the text of string id whose mnemonic moves the focus to buddy.
QLabel* BuddyLabel(unsigned id, QWidget* buddy, QWidget* parent = nullptr);
