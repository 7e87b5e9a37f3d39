// Every numeric id of the module, each under one name: dialogs from 101,
// controls from 1001, menu commands from 40001, timers apart. Shared by the
// resource script and the code; the names the design gives are kept.
#ifndef KOLVARINE_RESOURCE_H
#define KOLVARINE_RESOURCE_H

// Dialog templates
#define kDialogTemplateId 101

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

// The command the module adds to the simulator's menu bar
#define kMenuCommandId 40001

// Window timers of the control dialog
#define kGateTimerId 1
#define kDropTimerId 2

#endif
