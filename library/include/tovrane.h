/*
 * tovrane.h - the Tovrane device console library.
 *
 * Speaks the TQ-318 controller's serial console over a port that the caller
 * has opened with the uart layer's Open_Com. Every console export takes the
 * port number first and a reply buffer last, and returns a 16-bit result code:
 * 0 is success; 1..14 is the uart layer's own code from a failed exchange,
 * passed on unchanged (see uart.h); the library's own codes are listed below.
 *
 * Reply buffer: owned by the caller, at least TOV_REPLY_MIN bytes. On success
 * it holds the console's reply as NUL-terminated text (at most 1000
 * characters); on failure the library overwrites it with an error text of the
 * form "<command> Error!, Code:<n>, " or "\r\n(null) Error!, Code:<n>, ".
 *
 * All exports run on the caller's thread, block it until the console has
 * answered or the time-outs have passed, and are not reentrant: one call at
 * a time. The file transfer shows a "Load Process" window (Qt, when the
 * calling program has a QApplication; otherwise progress goes to stderr).
 */
#ifndef TOVRANE_H
#define TOVRANE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define TOV_API __attribute__((visibility("default")))
#else
#define TOV_API
#endif

/* Buffer sizes, terminator included. A longer word from the device is cut to fit. */
#define TOV_REPLY_MIN 1001        /* every reply buffer */
#define TOV_VALUE_SIZE 16         /* IP address, mask and gateway value buffers */
#define TOV_VALUE_MAX_IN 44       /* longest value text accepted by the set forms */
#define TOV_FREE_TEXT_SIZE 32     /* free-space text */
#define TOV_MODEL_SIZE 32         /* model text of TOV_Get_Tovrane_Version */
#define TOV_FLASH_SIZE 32         /* flash memory text of TOV_Get_Tovrane_Version */
#define TOV_BUILD_DATE_SIZE 16    /* build date text: "%s/%s/%s" of 3, 3 and 7 characters */
#define TOV_DIR_WORD_SIZE 32      /* each directory word buffer */
#define TOV_DIR_SIZE_TEXT_SIZE 12 /* each directory size buffer (decimal text) */
#define TOV_DIR_MAX_ENTRIES 100   /* entries 0..99; the arrays must have this many pointers */

/* The library's own result codes. */
enum tov_result {
    TOV_OK = 0,
    TOV_ERR_NO_PROMPT = 15,        /* TOV_GetPrompt: no prompt character within the time-out */
    TOV_ERR_LINE_FAILED = 16,      /* TOV_GetPrompt: the port could not be read until the time-out passed */
    TOV_ERR_BLOCK_REFUSED = 40,    /* transfer: the controller refused a block three times (NAK) */
    TOV_ERR_BAD_ANSWER = 41,       /* transfer: a block was answered with neither ACK nor NAK */
    TOV_ERR_SILENT = 42,           /* transfer: no answer to a block in 5 tries of 2 s each */
    TOV_ERR_WINDOW = 43,           /* transfer: the progress window could not be created */
    TOV_ERR_LOAD_FAILED = 44,      /* TOV_Load_File: the transfer failed and no deletion followed */
    TOV_ERR_NO_FILE = 45,          /* transfer: the file to send does not exist */
    TOV_ERR_BAD_REPLY = 46,        /* the reply does not end as expected or lacks the expected text */
    TOV_ERR_TRANSFER_LINE = 47,    /* transfer: reading the answer to a block failed (line hung up or closed) */
    TOV_ERR_FILE_UNREADABLE = 48,  /* transfer: the file exists but cannot be opened for reading; nothing sent */
    TOV_ERR_ARGUMENT = 49,         /* a null buffer, or a value text longer than TOV_VALUE_MAX_IN; nothing sent */
    TOV_ERR_NO_DISK_B = 51,        /* the directory has no "Files in Disk B:" */
    TOV_ERR_NO_TOTAL = 52,         /* the directory has no "Total File number is" */
    TOV_ERR_MODEL = 55,            /* the prompt names no supported controller model */
    TOV_ERR_SET_IP = 56,           /* TOV_Set_IP: no "IP=" in a complete reply */
    TOV_ERR_GET_IP = 57,           /* TOV_Get_IP: no "IP=" in a complete reply */
    TOV_ERR_SET_MASK = 58,         /* TOV_Set_Mask: no "MASK=" */
    TOV_ERR_GET_MASK = 59,         /* TOV_Get_Mask: no "MASK=" */
    TOV_ERR_SET_GATEWAY = 60,      /* TOV_Set_Gateway: no "Gateway=" */
    TOV_ERR_GET_GATEWAY = 61,      /* TOV_Get_Gateway: no "Gateway=" */
    TOV_ERR_DIR_REPLY = 62,        /* TOV_Dir_Tovrane: the reply does not end with ">" */
    TOV_ERR_SET_COM = 63,          /* TOV_Set_COM: no "Set to:" */
    TOV_ERR_GET_COM = 64,          /* TOV_Get_COM: no "Current set is: " */
    TOV_ERR_DISK_SIZE = 65,        /* TOV_Set_DiskSize, TOV_Get_DiskSize: no "SizeA=" */
    TOV_ERR_UPDATE_TRANSFER = 100  /* appears only in TOV_Update_Tovrane's error text after a failed transfer */
};

/* ---- Console exchange ---- */

/* The library version, 0x0111. */
TOV_API uint16_t TOV_Get_Dll_Version(void);

/*
 * Send a carriage return and wait for the prompt character. The time-out
 * bounds the silence between bytes, so other bytes keep it waiting.
 * 0 when the prompt arrived, 15 after timeout_ms of silence, 16 when the port
 * could not be read (not open, hung up) until timeout_ms had passed.
 */
TOV_API uint16_t TOV_GetPrompt(uint8_t port, uint16_t timeout_ms, uint8_t prompt);

/* Writes nothing: `text` is left exactly as it was. */
TOV_API void TOV_IsGetErrorString(uint16_t code, char* text);

/* ---- CRC-16/XMODEM ---- */

/* Builds the table once; the result carries no meaning. */
TOV_API uint16_t MakeCRC16Table(void);

/* CRC-16/XMODEM of `count` bytes. Gives 0 until MakeCRC16Table has run. */
TOV_API uint16_t GetCRC16(const uint8_t* data, uint32_t count);

/* ---- File download and delete ---- */

/*
 * Download the file at `path` to flash disk `disk` ('b' or 'B' for disk B,
 * anything else disk A) under the last 12 characters of `target_name`'s last
 * path component (or of `path`'s when target_name is null), lower-cased.
 * mode 1: "loadr"; mode 3: "loadfirmware"; else "load" or "loadb".
 */
TOV_API uint16_t TOV_Load_File(uint8_t port, const char* path, char disk, const char* target_name,
                               int32_t mode, char* reply);

/* Delete every file of disk `disk`. */
TOV_API uint16_t TOV_Del_All_Files(uint8_t port, char disk, char* reply);

/* ---- Operating-system update ---- */

/*
 * Upload the image at `image_path` and install it with "bios1". A failed
 * transfer returns the transfer's own code while the error text names 100.
 */
TOV_API uint16_t TOV_Update_Tovrane(uint8_t port, const char* image_path, char* reply);

/* ---- Network settings (value buffers of TOV_VALUE_SIZE bytes) ---- */

TOV_API uint16_t TOV_Get_IP(uint8_t port, char* value, char* reply);
TOV_API uint16_t TOV_Set_IP(uint8_t port, char* value, char* reply);
TOV_API uint16_t TOV_Get_Mask(uint8_t port, char* value, char* reply);
TOV_API uint16_t TOV_Set_Mask(uint8_t port, char* value, char* reply);
TOV_API uint16_t TOV_Get_Gateway(uint8_t port, char* value, char* reply);
TOV_API uint16_t TOV_Set_Gateway(uint8_t port, char* value, char* reply);

/* ---- Controller COM port and disk sizes ---- */

/* parity: 0 none, 1 even, 2 odd, 3 mark, 4 space; any other value is sent as the character of its low byte. */
TOV_API uint16_t TOV_Set_COM(uint8_t port, int32_t com, int32_t baud, int32_t data_bits,
                             int32_t parity, int32_t stop_bits, char* reply);
TOV_API uint16_t TOV_Get_COM(uint8_t port, int32_t com, int32_t* baud, int32_t* data_bits,
                             int32_t* parity, int32_t* stop_bits, char* reply);
TOV_API uint16_t TOV_Set_DiskSize(uint8_t port, int32_t size_a, int32_t size_b, char* reply);
TOV_API uint16_t TOV_Get_DiskSize(uint8_t port, int32_t* size_a, int32_t* size_b, char* reply);

/* ---- Queries ---- */

/*
 * List disk `disk`. Each array must hold TOV_DIR_MAX_ENTRIES pointers to
 * buffers of TOV_DIR_WORD_SIZE bytes (TOV_DIR_SIZE_TEXT_SIZE for `sizes`).
 * Entries past 99 are never written, whatever count the device reports.
 */
TOV_API uint16_t TOV_Dir_Tovrane(uint8_t port, char disk, int32_t* count, char** first_words,
                                 char** second_words, char** third_words, char** sizes,
                                 char* reply);

/* Free space of disk `disk` as the console prints it, into TOV_FREE_TEXT_SIZE bytes. */
TOV_API uint16_t TOV_Get_FreeSize(uint8_t port, char disk, char* free_text, char* reply);

/*
 * The version number (major, minor and build digits joined: 1.23 build 003
 * gives 123003), or the code of a failure. model, build_date and flash take
 * TOV_MODEL_SIZE, TOV_BUILD_DATE_SIZE and TOV_FLASH_SIZE bytes.
 */
TOV_API int32_t TOV_Get_Tovrane_Version(uint8_t port, char* model, char* build_date, char* flash,
                                        int32_t* port_probe_flag, char* reply);

#ifdef __cplusplus
}
#endif

#endif /* TOVRANE_H */
