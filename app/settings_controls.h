/* The settings dialog's control ids, shared by the resource script, the
   settings form and the GUI test (which reads the #define lines). Plain
   #defines only: the resource compiler reads this file too. */
#ifndef TOLVANE_SETTINGS_CONTROLS_H
#define TOLVANE_SETTINGS_CONTROLS_H

#define IDC_MOUSE_AVERAGING 1000
#define IDC_COM_PORT_LABEL 1001
#define IDC_DISTANCE_UNIT_LABEL 1002
#define IDC_COM_PORT 1003
#define IDC_LAN_AVERAGING 1004
#define IDC_SCREEN_DISTANCE 1005
#define IDC_SCREEN_DISTANCE_LABEL 1006
#define IDC_MOUSE_AVERAGING_LABEL 1007
#define IDC_LAN_AVERAGING_LABEL 1008
#define IDC_SCROLL_SPEED_LABEL 1009
#define IDC_LAN_PORT 1010
#define IDC_MOUSE_ENABLED 1011
#define IDC_LAN_ENABLED 1012
#define IDC_WEBSOCKET_ENABLED 1013
#define IDC_LAN_PORT_LABEL 1014
#define IDC_LAN_NOTE_LABEL 1015
#define IDC_PRESET_C 1016
#define IDC_PRESET_B 1017
#define IDC_SCROLL_SPEED 1018
#define IDC_ACCELERATION_OUTPUT 1019
#define IDC_ROTATION_OUTPUT 1020

#endif
