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
 * TOV_Dir_Tovrane and TOV_Get_FreeSize need TOV_DIR_REPLY_MIN bytes instead,
 * so that a whole listing fits.
 *
 * No exception leaves the library: an exception or allocation failure inside
 * an export gives 50 (TOV_ERR_INTERNAL) with the error text in the reply
 * buffer. The exports that return no code (TOV_Get_Dll_Version,
 * TOV_IsGetErrorString, MakeCRC16Table, GetCRC16) neither allocate nor throw.
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

/*
 * On Windows the exports live in tovrane.dll at fixed ordinals (tovrane.def).
 * The 32-bit DLL's exports use __stdcall, the convention of the system's own
 * DLLs and of the 32-bit programs that import by ordinal, under undecorated
 * names; TOV_CALL says so and is empty everywhere else (x86-64 Windows has
 * one convention, the Microsoft x64 one; Linux its own).
 */
#if defined(_WIN32)
#define TOV_API
#elif defined(__GNUC__)
#define TOV_API __attribute__((visibility("default")))
#else
#define TOV_API
#endif
#if defined(_WIN32) && (defined(_M_IX86) || defined(__i386__))
#define TOV_CALL __stdcall
#else
#define TOV_CALL
#endif

/* Buffer sizes, terminator included. A longer word from the device is cut to fit. */
#define TOV_REPLY_MIN 1001        /* every reply buffer */
#define TOV_DIR_REPLY_MIN 2048    /* reply buffer of TOV_Dir_Tovrane and TOV_Get_FreeSize */
#define TOV_VALUE_SIZE 16         /* IP address, mask and gateway value buffers */
#define TOV_VALUE_MAX_IN 43       /* longest value text accepted by the set forms ("gateway " + 43 + NUL fits the console's 52) */
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
    TOV_ERR_LINE_FAILED = 16,      /* TOV_GetPrompt: the line hung up or the port is not open (at once),
                                      or reading kept failing until the time-out passed */
    TOV_ERR_NOT_INSTALLED = 39,    /* TOV_Update_Tovrane: "bios1" answered "Please Upload first!", a failure word or nothing */
    TOV_ERR_BLOCK_REFUSED = 40,    /* transfer: the controller refused a block three times (NAK) */
    TOV_ERR_BAD_ANSWER = 41,       /* transfer: a block was answered with neither ACK nor NAK */
    TOV_ERR_SILENT = 42,           /* transfer: 5 answer waits of 2 s in a row passed in silence for a data
                                      block (about 10 s), or one for the header (never sent twice) */
    TOV_ERR_WINDOW = 43,           /* transfer: the progress window could not be created */
    TOV_ERR_LOAD_FAILED = 44,      /* TOV_Load_File: the transfer failed and no deletion followed */
    TOV_ERR_NO_FILE = 45,          /* transfer: the file to send does not exist (a block of length 0 is sent instead) */
    TOV_ERR_BAD_REPLY = 46,        /* the reply does not end as expected or lacks the expected text */
    TOV_ERR_TRANSFER_LINE = 47,    /* transfer: a block did not go out whole, or reading its answer failed (line hung up or closed); ends at once */
    TOV_ERR_FILE_UNREADABLE = 48,  /* the file exists but is no regular file, cannot be opened for reading
                                      or is 4 GiB or larger: refused before the load or upload command, with
                                      nothing sent; or, during a transfer, it could not be read to the size
                                      its header gave (the transfer stops at that block) */
    TOV_ERR_ARGUMENT = 49,         /* a null buffer, or a value text longer than TOV_VALUE_MAX_IN; nothing sent */
    TOV_ERR_INTERNAL = 50,         /* an exception or allocation failure inside the library */
    TOV_ERR_NO_DISK_B = 51,        /* the directory has no "Files in Disk B:" */
    TOV_ERR_NO_TOTAL = 52,         /* the directory has no "Total File number is" */
    /* 53 is kept free for the file transfer. */
    TOV_ERR_IMAGE_CRC = 54,        /* TOV_Update_Tovrane: the controller's CRC16 report differs from the image's */
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
TOV_API uint16_t TOV_CALL TOV_Get_Dll_Version(void);

/*
 * Send a carriage return and wait for the prompt character. The time-out
 * bounds the silence between bytes, so other bytes keep it waiting.
 * 0 when the prompt arrived, 15 after timeout_ms of silence, 16 at once when
 * the line has hung up or the port is not open, or when reading kept failing
 * otherwise until timeout_ms had passed.
 */
TOV_API uint16_t TOV_CALL TOV_GetPrompt(uint8_t port, uint16_t timeout_ms, uint8_t prompt);

/* Writes nothing: `text` is left exactly as it was. */
TOV_API void TOV_CALL TOV_IsGetErrorString(uint16_t code, char* text);

/* ---- CRC-16/XMODEM ----
 * The controller checks every transfer block with this CRC, and after an
 * upload reports the CRC of the whole image it took ("CRC16=XXXX"). */

/* Builds the table once; the result carries no meaning. */
TOV_API uint16_t TOV_CALL MakeCRC16Table(void);

/* CRC-16/XMODEM of `count` bytes. Gives 0 until MakeCRC16Table has run. */
TOV_API uint16_t TOV_CALL GetCRC16(const uint8_t* data, uint32_t count);

/* ---- File download and delete ---- */

/*
 * Download the file at `path` to flash disk `disk` ('b' or 'B' for disk B,
 * anything else disk A) under the last 12 characters of `target_name`'s last
 * path component (or of `path`'s file name when target_name is null or
 * empty), lower-cased; "/", "\" and ":" end a component. The content is read
 * from `path` itself; the current directory is never changed.
 * mode 1: "loadr"; mode 3: a carriage return and the console's answer line,
 * then "loadfirmware" (and a 50 ms pause after the header block); else "load"
 * or "loadb". The mode is kept as the last load mode.
 * Results: 0 once the console shows its prompt after the transfer (the reply
 * holds what it printed); the uart code of a failed load command; 46 when its
 * answer does not end with "!" or no prompt follows the transfer (waiting
 * 1000 ms, or 1000 ms per 81 blocks for larger files); 44 when the transfer
 * failed (any of its codes). When the controller then reports "NOT enough
 * space", the user is asked "Delete all files!!" (Yes/No, caption "Delete
 * File"): Yes empties the disk with TOV_Del_All_Files (its nonzero result is
 * returned) and starts the download again from the load command, asking again
 * if need be; No gives 44. 49 for a null reply buffer, with nothing sent.
 * 48, with nothing sent (no load command): the file exists but is no regular
 * file, cannot be opened, or is 4 GiB or larger. A file that does not exist
 * is sent as a block of length 0 after the load command (the controller's
 * "no file") and gives 44.
 * Transfer rules (also TOV_Update_Tovrane):
 * - A header is never sent twice: when its answer times out (2 s), the
 *   controller may already wait for content. The attempt ends, the controller
 *   is brought back to its prompt (below) and the download starts over from
 *   its command, once; a second header time-out is a failed transfer. A data
 *   block whose answer times out is sent again (5 times at most); should the
 *   controller have taken it already, it finishes one block early, which ends
 *   the transfer as failed (its closing text seen before the next block goes
 *   out, or that text in place of the next block's answer).
 * - Before a failed transfer is returned the controller is brought back to
 *   its prompt: when what it printed ends with ">" at once; otherwise the line
 *   is left quiet until the controller gives up waiting for a block and shows
 *   ">" (it restarts that wait on every byte), which a carriage return then
 *   confirms. That wait is bounded by 15 s, with "Waiting for the controller
 *   ..." in the "Load Process" window's status line. Result codes and error
 *   texts are unchanged by it.
 */
TOV_API uint16_t TOV_CALL TOV_Load_File(uint8_t port, const char* path, char disk, const char* target_name,
                               int32_t mode, char* reply);

/*
 * Delete every file of disk `disk`: "delb" for 'b' or 'B', else "del", up to
 * the question mark (3 s), then "Y" up to the prompt (3 s). 0 with the answer
 * to "Y" in the reply; otherwise the uart code of whichever exchange failed,
 * with the error text naming that command. 49 for a null reply buffer.
 */
TOV_API uint16_t TOV_CALL TOV_Del_All_Files(uint8_t port, char disk, char* reply);

/* ---- Operating-system update ---- */

/*
 * Upload the image at `image_path` and install it with "bios1". The wait
 * cursor is on from the upload's acceptance until the call returns.
 * Results: the uart code of a failed "upload" exchange; 46 when its answer
 * does not end with "!" (shown in a message box); a failed transfer returns
 * the transfer's own code (40..48) while the error text names 100. 49 for a
 * null reply buffer, with nothing sent. 48, before "upload" is sent, for an
 * image that cannot be sent (as in TOV_Load_File); the header and recovery
 * rules of TOV_Load_File apply.
 * The controller's report 2 s after the transfer: one holding "CRC16=" must
 * give exactly four hex digits (either case) equal to the CRC-16/XMODEM of
 * the image sent, else "Load receive error", a line break and "CRC16=XXXX,
 * file CRC16=YYYY" are shown and the result is 54. One without "CRC16=" is
 * taken when it ends with the prompt and holds none of the failure words
 * (below); else "Load receive error" (and the report, when it ended at the
 * prompt) is shown and the result is 46. Neither sends "bios1", and the reply
 * then holds the error text without a command ("\r\n(null) Error!, Code:46, ")
 * and nothing more.
 * The answer to "bios1": exactly 50 characters ending with the prompt shows
 * "Please Upload first!" and gives 39; an answer ending with "." is read once
 * more (up to the prompt, 3 s). Silence, or an answer holding one of the
 * failure words "error", "fail", "not installed", "rejected", "invalid",
 * "abort", "please upload" (any case), is shown and gives 39, the reply
 * holding the error text, a line break and the answer; so does a "bios1" that
 * could not be sent (a stop asked with Uart_Stop_Next_Send), with the error
 * text alone. Any other answer gives 0: a controller's words for a finished
 * install are its own, so a caller that needs proof asks the controller after
 * its restart (the repair engine asks "ver").
 * On 0 the reply holds the controller's last answer and, right behind its
 * terminator, a second text: the report's "CRC16=XXXX" that matched the
 * image, or an empty text when the report gave no CRC (nothing compared the
 * image's content). Both lie within the first TOV_REPLY_MIN bytes; when the
 * answer leaves no room there is no second text (take it as no CRC).
 */
TOV_API uint16_t TOV_CALL TOV_Update_Tovrane(uint8_t port, const char* image_path, char* reply);

/* ---- Network settings (value buffers of TOV_VALUE_SIZE bytes) ----
 *
 * Each first sends the blank command " " (time-out 1000 ms, 800 ms in
 * TOV_Set_Gateway): a prompt naming no supported model (5314A, 4400, 5312A,
 * KX2K, any case) ends the call with 55 before the command is sent; a silent
 * line or a reply without the prompt is passed over. Then "ip", "mask",
 * "gateway" (set forms: the word, a blank and the value text; time-out 2000 ms
 * for "ip <value>", else 1000 ms). Success needs a reply ending with ">" that
 * holds the key "IP=", "MASK=" or "Gateway=" (case-sensitive); the word after
 * it is copied into `value`, cut to TOV_VALUE_SIZE - 1 characters. The set
 * forms thus return the address in the controller's form. Codes: 56/57,
 * 58/59, 60/61 (set/get) when the key or the prompt is missing; 55; a uart
 * code from the exchange. `value` is written only on success.
 * 49, nothing sent: `value` or `reply` null (with a null `reply` no error
 * text is written), or a set form's value text longer than TOV_VALUE_MAX_IN
 * or holding a control character (it would split the console line).
 */

TOV_API uint16_t TOV_CALL TOV_Get_IP(uint8_t port, char* value, char* reply);
TOV_API uint16_t TOV_CALL TOV_Set_IP(uint8_t port, char* value, char* reply);
TOV_API uint16_t TOV_CALL TOV_Get_Mask(uint8_t port, char* value, char* reply);
TOV_API uint16_t TOV_CALL TOV_Set_Mask(uint8_t port, char* value, char* reply);
TOV_API uint16_t TOV_CALL TOV_Get_Gateway(uint8_t port, char* value, char* reply);
TOV_API uint16_t TOV_CALL TOV_Set_Gateway(uint8_t port, char* value, char* reply);

/* ---- Controller COM port and disk sizes ---- */

/*
 * "setcom <com> <baud> <data> <parity letter> <stop>", 1500 ms. parity: 0 none,
 * 1 even, 2 odd, 3 mark, 4 space (sent as n e o m s); any other value is sent
 * as the character of its low byte, except a control character (49, nothing
 * sent); a line longer than 51 characters is refused the same way. 0 when the reply ends with ">" and holds "Set to:", else 63.
 *
 * TOV_Get_COM: "setcom <com>", 1500 ms; needs "Current set is: " (64). The
 * word after it (first 31 characters) is split at commas: the first three
 * comma-ended fields are baud, data bits and parity, later comma-ended ones
 * are dropped, and the text after the last comma is the stop bits ("9600,8"
 * gives baud 9600 and stop bits 8). Each field keeps its first 11 characters;
 * a field that is not a number (or does not fit 32 bits) leaves its output
 * as it was. Outputs are written only on success; any null pointer: 49.
 *
 * TOV_Set_DiskSize: "disksize <a> <b>", 1000 ms; TOV_Get_DiskSize: "disksize",
 * 600 ms. Both need a reply ending with ">" that holds "SizeA=" (65). The get
 * form reads the number after "SizeA=" and, when present, after "SizeB="; a
 * missing or non-numeric value leaves that output as it was.
 */
TOV_API uint16_t TOV_CALL TOV_Set_COM(uint8_t port, int32_t com, int32_t baud, int32_t data_bits,
                             int32_t parity, int32_t stop_bits, char* reply);
TOV_API uint16_t TOV_CALL TOV_Get_COM(uint8_t port, int32_t com, int32_t* baud, int32_t* data_bits,
                             int32_t* parity, int32_t* stop_bits, char* reply);
TOV_API uint16_t TOV_CALL TOV_Set_DiskSize(uint8_t port, int32_t size_a, int32_t size_b, char* reply);
TOV_API uint16_t TOV_CALL TOV_Get_DiskSize(uint8_t port, int32_t* size_a, int32_t* size_b, char* reply);

/* ---- Queries ---- */

/*
 * REPLY BUFFER: TOV_DIR_REPLY_MIN (2048) bytes, not TOV_REPLY_MIN: the whole
 * listing of both disks is collected into it (up to 2047 characters); a
 * longer listing gives 11 (the uart layer's "too long") with the error text
 * "dir Error!, Code:11, ".
 *
 * List disk `disk` ('b'/'B' disk B, anything else disk A) with "dir"
 * (1000 ms, sent once more if the first exchange fails). Each array must hold
 * TOV_DIR_MAX_ENTRIES pointers to buffers of TOV_DIR_WORD_SIZE bytes
 * (TOV_DIR_SIZE_TEXT_SIZE for `sizes`); a null pointer in an array is
 * skipped. Entry i is found by its label "i)" in the disk's section: its
 * first three words (each cut to TOV_DIR_WORD_SIZE - 1 characters; "" when
 * the reply ends first) and, as decimal text, the up to 5 hex digits that
 * stand 41 characters after the ")", blanks before them skipped but never
 * past the end of the entry's line ("" when there is no hex digit there).
 * An entry whose label is missing is skipped and its buffers left untouched.
 * *count receives the count the device reports, capped at
 * TOV_DIR_MAX_ENTRIES; entries past 99 are never looked for or written.
 * Codes: 62 the reply does not end with ">"; 51 disk B without
 * "Files in Disk B:"; 52 no "Total File number is", or no number after it,
 * or a negative one; a uart code. *count is written only on success.
 * Any null output: 49, nothing sent.
 */
TOV_API uint16_t TOV_CALL TOV_Dir_Tovrane(uint8_t port, char disk, int32_t* count, char** first_words,
                                 char** second_words, char** third_words, char** sizes,
                                 char* reply);

/*
 * REPLY BUFFER: TOV_DIR_REPLY_MIN (2048) bytes, as for TOV_Dir_Tovrane: the
 * whole listing is collected before disk B's free space behind it is read;
 * a longer listing gives 11 with the error text "dir Error!, Code:11, ".
 *
 * Free space of disk `disk` as the console prints it (the word after
 * "Free space"), into TOV_FREE_TEXT_SIZE bytes, cut to fit. "dir", 3000 ms.
 * 46 when the reply does not end with ">" or has no "Free space": the reply
 * buffer then keeps the reply as received (no error text). 51 disk B without
 * "Files in Disk B:". Null output: 49, nothing sent.
 */
TOV_API uint16_t TOV_CALL TOV_Get_FreeSize(uint8_t port, char disk, char* free_text, char* reply);

/*
 * The version number (major, minor and build digits joined: 1.23 build 003
 * gives 123003, 1.5 build 010 gives 15010; 0 when the first is no digit), or
 * the code of a failure. model, build_date and flash take TOV_MODEL_SIZE,
 * TOV_BUILD_DATE_SIZE and TOV_FLASH_SIZE bytes; words are cut to fit.
 * "ver", 1500 ms: the model follows "Tovrane for" or "Tovrane_UDP for", the
 * flash text "FLASH MEMORY:" (each left as it was when absent, and written
 * even when the call then fails); 46 when the reply does not end with ">" or
 * lacks "Ver." or "build". The build date "Mmm/dd/yyyy" (words cut to 3, 3
 * and 7 characters) is written only on success, so a caller can tell a
 * version from a failure code by it. Then, after 50 ms, "inp 30a" (1200 ms)
 * sets *port_probe_flag to 1 when "data=" is followed by "50", else 0, and to
 * 1 whenever the model text is "q-5312ax" or "KX2000" (any case); a failed
 * probe leaves the flag and its error text in `reply`, and never changes the
 * result. Any null output: 49, nothing sent. 50 for a failure inside the
 * library: like the other codes it cannot be told from a version number by
 * the result alone, only by the build date not being written.
 */
TOV_API int32_t TOV_CALL TOV_Get_Tovrane_Version(uint8_t port, char* model, char* build_date, char* flash,
                                        int32_t* port_probe_flag, char* reply);

#ifdef __cplusplus
}
#endif

#endif /* TOVRANE_H */
