// Resource and control ids of Sumwick. A control's id is 100 plus its place in
// the tab order, and none is IDOK or IDCANCEL, so Enter and Esc find no button.
#pragma once

#define IDI_SUMWICK 1

// Window "Form1"
#define IDB_FORM1_COMMAND1 100
#define IDE_FORM1_TEXT1 101
#define IDT_FORM1_LABEL1 102
#define IDE_FORM1_TEXT2 103
#define IDT_FORM1_LABEL2 104
#define IDB_FORM1_COMMAND2 105
