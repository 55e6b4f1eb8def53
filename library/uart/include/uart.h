/*
 * uart.h - the serial layer under the Tovrane library and the Pelorim wizard.
 *
 * A port is named by its COM number N (1..255). Port N is the device named
 * by the environment variable UART_COM<N> when it is set; else the device the
 * per-user mapping file gives for it (lines such as "COM1=<device>", written
 * by "tovctl ports --assign N DEVICE"); else the system's port N:
 *   Windows: the file %APPDATA%\tq318\ports, the default \\.\COM<N>;
 *   Linux:   the file $XDG_CONFIG_HOME/tq318/ports (default
 *            ~/.config/tq318/ports), the default /dev/ttyS<N-1>.
 * A missing or malformed file is passed over; of one over 64 KiB only the
 * lines in its first 64 KiB count; one that cannot be read (no permission,
 * not a regular file) names no device.
 * A UART_COM<N> that is set but empty names no device: Open_Com gives
 * UART_ERR_NO_DEVICE (there is no fallback to the file or the default).
 * The layer keeps one open descriptor per port number; callers hold no handle.
 *
 * Every function runs on the caller's thread and never blocks longer than the
 * time-out it is given (plus the settle time below). None of them throws: an
 * unexpected failure inside the layer (out of memory, for one) gives
 * UART_ERR_OPEN_FAILED from Open_Com, UART_ERR_READ from the others that return
 * a code, 0 bytes from Send_Raw and -UART_ERR_READ from Read_Raw.
 *
 * Tracing: when the environment variable UART_TRACE names a file when a port
 * is opened, every byte sent and received on any port is appended to it with
 * a time stamp (text lines quoted, other bytes in hex).
 */
#ifndef UART_H
#define UART_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/*
 * On Windows port N is \\.\COM<N> unless UART_COM<N> names
 * another path; the functions live in uart.dll (uart.def: Send_Raw at
 * ordinal 9, Read_Reply 10, Exchange_Cmd 30, Read_Until 32, Read_Raw 33, the
 * others by name) and, in the 32-bit DLL, __stdcall under undecorated names
 * (UART_CALL; empty on x86-64 Windows, which has the one Microsoft x64
 * convention, and on Linux).
 */
#if defined(_WIN32)
#define UART_API
#elif defined(__GNUC__)
#define UART_API __attribute__((visibility("default")))
#else
#define UART_API
#endif
#if defined(_WIN32) && (defined(_M_IX86) || defined(__i386__))
#define UART_CALL __stdcall
#else
#define UART_CALL
#endif

/*
 * Result codes. 0 is success; every failure code lies in 1..14, so it never
 * collides with the Tovrane library's own codes (15..65 and 100).
 * Each code has exactly one meaning.
 */
enum uart_result {
    UART_OK = 0,
    UART_ERR_NOT_OPEN = 1,      /* the port number is not open in this process */
    UART_ERR_BAD_PORT = 2,      /* port 0: no COM port carries that number */
    UART_ERR_NO_DEVICE = 3,     /* the device the port maps to does not exist */
    UART_ERR_PERMISSION = 4,    /* the device exists but we may not open it (see the dialout group) */
    UART_ERR_BUSY = 5,          /* another program (or this one) holds the port */
    UART_ERR_BAD_SETTINGS = 6,  /* baud rate, data bits, parity or stop bits not supported */
    UART_ERR_CONFIG = 7,        /* the device refused the line settings (not a serial device?) */
    UART_ERR_WRITE = 8,         /* writing to the device failed or stalled */
    UART_ERR_TIMEOUT = 9,       /* the expected end character did not arrive in time */
    UART_ERR_HANGUP = 10,       /* the line hung up: adapter unplugged or far end gone */
    UART_ERR_TOO_LONG = 11,     /* the reply did not fit the buffer; it was cut */
    UART_ERR_READ = 12,         /* reading from the device failed for another reason */
    UART_ERR_BAD_ARGUMENT = 13, /* a null pointer or a zero capacity was passed */
    UART_ERR_OPEN_FAILED = 14   /* opening the device failed for another reason */
};

/*
 * Capacities. UART_TEXT_CAPACITY is what Receive_Cmd may write, terminator
 * included: the wizard passes buffers of exactly that size.
 * The reply functions below take the capacity from the caller; the Tovrane
 * library passes 1001 (1000 characters and the terminator), and 2048 for its
 * directory listings.
 */
#define UART_TEXT_CAPACITY 2048

/*
 * Flag values. Every call's `flag` is 0 for the plain behaviour described at
 * each function; these values select the two extra behaviours below.
 *
 * UART_FLAG_FIRST_BYTES (Read_Reply): sleep in the kernel up to timeout_ms
 *   until a first byte arrives, then return at once with the bytes waiting,
 *   at most capacity-1 of them (the rest stays for the next read: nothing is
 *   dropped), followed by a NUL; their number goes to `scratch` (the bytes
 *   may hold zeros). 0 when bytes came, UART_ERR_TIMEOUT when none did,
 *   UART_ERR_HANGUP at once when the line hung up, UART_ERR_BAD_ARGUMENT for
 *   a capacity below 2. No settle time: this is the wait a caller uses in
 *   place of polling Read_Raw.
 * UART_FLAG_LINE_STATE (Receive_Cmd, Read_Reply): read nothing and wait for
 *   nothing; 0 while the line is up, UART_ERR_HANGUP once the serial adapter
 *   was unplugged or the far end hung up (the buffer is left as it is).
 */
#define UART_FLAG_FIRST_BYTES 1
#define UART_FLAG_LINE_STATE 2

/* Timing, in milliseconds. */
#define UART_SETTLE_MS 15   /* quiet time after the last byte (once the end character came) that completes a reply */
/*
 * A reply whose last byte is its end character is complete after
 * UART_SETTLE_MS of quiet. Where the reply may go on (a read without an end
 * character, or bytes that came after the end character) the quiet time of an
 * open port grows from UART_SETTLE_MS to twice the longest silence its line
 * has shown inside a reply before the end character (a USB adapter that hands
 * over a partial packet only when its latency timer runs out makes such
 * silences), plus 5 ms, at most 260 ms; after bytes that followed the end
 * character it is at least 60 ms. Silences longer than 255 ms are the
 * controller's pauses and are not learnt. The learning starts again with
 * every Open_Com. "Quiet for UART_SETTLE_MS" below means these times.
 */
#define UART_RAW_WAIT_MS 1  /* longest wait of Read_Raw for a first byte */

/*
 * Open_Com: open port `port` with the given line format.
 *   baud: one of the standard rates 50..4000000 (115200 in use).
 *   data_bits: 5..8.  parity: 0 none, 1 odd, 2 even, 3 mark, 4 space.
 *   stop_bits: 0 one stop bit, 1 one and a half (taken as two), 2 two stop bits.
 * The device is set raw, locked against every other opener (TIOCEXCL and
 * flock), asked for low latency, and stale input is dropped. Its former
 * settings are restored by Close_Com.
 * Low latency: a USB serial adapter otherwise holds received bytes for its
 * latency timer (16 ms by default with ftdi_sio) before it hands a partial
 * packet to the PC, and every block answer of a transfer pays that. Open_Com
 * reads the driver's flags (TIOCGSERIAL), sets ASYNC_LOW_LATENCY and writes
 * them back (TIOCSSERIAL). A device without those calls (a pseudo-terminal,
 * a driver that is not a UART's) or a driver that refuses them is left as it
 * is, and the open still succeeds. Close_Com puts the former flags back when
 * they were changed. (`tovctl ports` shows an adapter's latency timer where
 * the driver exposes one in sysfs; the kit's udev rule sets ftdi_sio's to 1 ms.)
 * Opening a port that is already open returns UART_ERR_BUSY.
 */
UART_API uint16_t UART_CALL Open_Com(uint8_t port, uint32_t baud, uint8_t data_bits, uint8_t parity,
                           uint8_t stop_bits);

/*
 * Unplugging: when the serial adapter is pulled out or the far end hangs up
 * (a read fails with an I/O error or meets the end of the file, the device
 * reports a hang-up or an error), every call on that port returns
 * UART_ERR_HANGUP (-UART_ERR_HANGUP from Read_Raw) at once, without waiting
 * out its time-out, and keeps doing so until the port is closed.
 */

/* Close_Com: restore and release the port. Closing a port that is not open is harmless (returns UART_ERR_NOT_OPEN). */
UART_API uint16_t UART_CALL Close_Com(uint8_t port);

/* Send_Cmd: send `text` followed by a carriage return as one console line. flag: pass 0. */
UART_API uint16_t UART_CALL Send_Cmd(uint8_t port, const char* text, int16_t flag);

/*
 * Receive_Cmd: wait up to timeout_ms for input, then take what arrives until
 * the line has been quiet for UART_SETTLE_MS, and store it as NUL-terminated
 * text at the start of `buffer`, which must hold UART_TEXT_CAPACITY bytes.
 * Nothing arrived: buffer holds "" and the result is UART_ERR_TIMEOUT.
 * `scratch` may be null; when not, it receives the number of bytes stored.
 * flag: 0, or UART_FLAG_LINE_STATE (see the flag values above).
 */
UART_API uint16_t UART_CALL Receive_Cmd(uint8_t port, char* buffer, uint16_t timeout_ms, int16_t flag,
                              uint16_t* scratch);

/*
 * Exchange_Cmd: send `command` as one console line (text and carriage return),
 * then collect the reply into `reply` (capacity bytes, terminator included).
 * Once `end_char` has arrived anywhere in the reply, collection ends at the
 * first silence of UART_SETTLE_MS after the last byte (or when timeout_ms has
 * passed since the send) and the result is 0, with everything the console
 * printed after end_char kept: the caller checks whether the reply's last
 * character is end_char. When end_char never arrived: UART_ERR_TIMEOUT at
 * timeout_ms (the text received so far stays in `reply`). UART_ERR_TOO_LONG
 * when the reply was cut at capacity-1 characters. Input waiting before the call is
 * dropped first. `reply` is always NUL-terminated. flag: pass 0; scratch may be null.
 */
UART_API uint16_t UART_CALL Exchange_Cmd(uint8_t port, const char* command, char* reply, uint32_t capacity,
                               uint32_t timeout_ms, int16_t flag, uint16_t* scratch, char end_char);

/*
 * Read_Reply: without sending, collect the console's answer: wait up to
 * timeout_ms for a first byte, then take what arrives until the line has been
 * quiet for UART_SETTLE_MS. Same buffer rules and codes as Exchange_Cmd.
 * flag: 0, UART_FLAG_FIRST_BYTES or UART_FLAG_LINE_STATE (see the flag values above).
 */
UART_API uint16_t UART_CALL Read_Reply(uint8_t port, char* reply, uint32_t capacity, uint32_t timeout_ms,
                             int16_t flag, uint16_t* scratch);

/* Read_Until: as Exchange_Cmd but without sending anything and without dropping waiting input. */
UART_API uint16_t UART_CALL Read_Until(uint8_t port, char* reply, uint32_t capacity, uint32_t timeout_ms,
                             int16_t flag, uint16_t* scratch, char end_char);

/*
 * Send_Raw: send exactly `count` bytes. Returns the number of bytes the device
 * took (equal to count on success, less after a failure or a 2 s stall).
 */
UART_API uint16_t UART_CALL Send_Raw(uint8_t port, const void* bytes, uint16_t count);

/*
 * Read_Raw: take at most `max_count` bytes that have arrived, waiting at most
 * UART_RAW_WAIT_MS for the first one. Returns their number, 0 when nothing is
 * waiting, or minus a uart_result code on failure (-UART_ERR_HANGUP when the
 * line hung up, -UART_ERR_NOT_OPEN for a port that is not open).
 * Writes no terminator: the buffer must hold max_count bytes.
 */
UART_API int32_t UART_CALL Read_Raw(uint8_t port, void* buffer, uint32_t max_count);

/*
 * Uart_Stop_Next_Send: a request that may come from a signal handler (it is
 * async-signal-safe: it only stores to a lock-free flag). With `stop` 1, the
 * next Send_Raw on any port sends nothing and returns 0, and the request is
 * spent; with 0 a pending request is withdrawn. A transfer under way thus
 * stops before its next block, and the sender's usual failure path (which
 * brings the controller back to its prompt) runs with sending allowed again.
 * Returns 1 when a request was pending before the call, else 0. Reads and
 * console lines (Send_Cmd, Exchange_Cmd) are not affected.
 */
UART_API uint16_t UART_CALL Uart_Stop_Next_Send(uint8_t stop);

/* Uart_Device_Path: the device path port N maps to, written into `path` (capacity bytes).
 * 0, UART_ERR_BAD_PORT, or UART_ERR_NO_DEVICE (path "") for a set but empty UART_COM<N>. */
UART_API uint16_t UART_CALL Uart_Device_Path(uint8_t port, char* path, uint32_t capacity);

#ifdef __cplusplus
}
#endif

#endif /* UART_H */
