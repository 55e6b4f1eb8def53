/* A program of somebody else's, built against the installed kit: opens COM 1,
 * reads the controller's version and IP address, and prints them. */
#include <stdio.h>
#include <tovrane.h>
#include <uart.h>

int main(void) {
    char model[TOV_MODEL_SIZE], date[TOV_BUILD_DATE_SIZE] = "", flash[TOV_FLASH_SIZE];
    char ip[TOV_VALUE_SIZE], reply[TOV_REPLY_MIN];
    int32_t probe = 0;
    if (Open_Com(1, 115200, 8, 0, 0) != 0) {
        fprintf(stderr, "cannot open COM1\n");
        return 3;
    }
    const int32_t version = TOV_Get_Tovrane_Version(1, model, date, flash, &probe, reply);
    const uint16_t ip_code = TOV_Get_IP(1, ip, reply);
    Close_Com(1);
    if (date[0] == '\0' || ip_code != 0) {
        fprintf(stderr, "version %d, IP code %u\n", (int)version, (unsigned)ip_code);
        return 1;
    }
    printf("library %04X version %d model %s IP %s\n", (unsigned)TOV_Get_Dll_Version(), (int)version, model, ip);
    return 0;
}
