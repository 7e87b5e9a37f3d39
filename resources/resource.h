// Every numeric id of the module: dialogs from 101, controls from 1001, menu
// commands from 40001, timers apart. Shared by the resource script and the code.
#ifndef KOLVARINE_RESOURCE_H
#define KOLVARINE_RESOURCE_H

// Dialog templates
#define IDD_CONTROL_DIALOG 101

// Controls of the control dialog
#define IDC_EXIT_BUTTON    1001
#define IDC_DROP_BUTTON    1002
#define IDC_COUNT_FIELD    1003
#define IDC_INTERVAL_FIELD 1004
#define IDC_CONFIG_LIST    1005
#define IDC_LOAD_BUTTON    1006
#define IDC_STREAMS_TEXT   1007
#define IDC_COUNT_LABEL    1008
#define IDC_VISUAL_BOX     1009

// Menu commands added to the simulator's menu bar
#define IDM_DROP_COMMAND 40001

// Window timers of the control dialog
#define IDT_GATE_TIMER 1
#define IDT_DROP_TIMER 2

#endif
