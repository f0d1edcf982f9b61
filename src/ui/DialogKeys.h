#pragma once

class QDialog;

// Enter presses the button that has the focus, and nothing when the focus is elsewhere: no
// button of the dialog is a default one, so Enter in a folder list or on a check box never
// starts what a button does (a copy, a move, a chooser). Call after the buttons are made.
void enterPressesOnlyTheFocusedButton(QDialog *dialog);
