// Resource and control ids of Form1 (pelorim.rc).
#pragma once

#define IDD_FORM1 100
#define IDI_PELORIM 101

#define IDC_FRAME_STEP1 1001
#define IDC_LABEL1 1002
#define IDC_COMBO_COMPORT 1003
#define IDC_COMCONNECT 1004
#define IDC_FRAME_STEP2 1005
#define IDC_LABEL2_0 1006
#define IDC_LABEL2_1 1007
#define IDC_FRAME_STEP3 1008
#define IDC_LABEL2_2 1009
#define IDC_COMUPLOADOS 1010
#define IDC_COMUPLOAD 1011
#define IDC_COMDISCONNECT 1012
#define IDC_COMEXIT 1013
#define IDC_FRAME1 1014
#define IDC_UPLOADBAR 1015
#define IDC_LABEL3 1016
#define IDC_STATUSBAR_MAIN 1017

// The frames' window class (frame_window.cpp): a container with a caption.
#define PELORIM_FRAME_CLASS "PelorimFrame"
