/* Resource and control numbers of the "Load Process" window (tovrane.rc). */
#pragma once

#define IDD_LOAD_PROCESS 101
#define IDI_LOAD_PROCESS 102
#define IDC_TOTAL_BLOCKS 1001
#define IDC_BLOCK 1002
#define IDC_STATUS 1003
