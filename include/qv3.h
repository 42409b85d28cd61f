/* libqv3: password-protected containers (*.aqv3 and the category extensions .pqv3 …
 * .zqv3) for other programs. The same engines, rules and messages as the qv3 command:
 *
 * - A plaintext appears under its final name only once its container has authenticated;
 *   until then it is written to a temporary file created new, owner-only, beside it.
 *   Nothing is ever written through a name or link the library did not create, and an
 *   existing file is never replaced unless QV3_OVERWRITE is given.
 * - A typed password opens a container keyed with any form a system may have made of
 *   it (this system's, code page 949 as a Korean Windows system hashes it, UTF-8), each
 *   tried per container; a new container is keyed with the form a Korean Windows system
 *   types, or refused when no such form holds every character. Password bytes given as
 *   they are (QV3_PASSWORD_BYTES) are tried as given first.
 * - Every failure is a value: a qv3_code, the system's error number and its message in
 *   the user's language (Korean, or English where the user's language is another).
 *
 * C99, usable from C++. Every function is safe to call from any thread at once on
 * different objects; the library keeps no state between calls, never exits the process
 * and writes nothing to the console. Strings are UTF-8 and zero-terminated unless a
 * length is given. */
#ifndef QV3_H
#define QV3_H

#include <stddef.h>
#include <stdint.h>

/* A program linking qv3.dll imports; one linking the library statically (libqv3.a)
 * defines QV3_STATIC. The DLL's exports are listed apart, so that no program built on the
 * library exports anything. */
#if defined(_WIN32) && !defined(QV3_STATIC) && !defined(QV3_BUILDING_LIBRARY)
#define QV3_API __declspec(dllimport)
#elif defined(_WIN32)
#define QV3_API
#elif defined(__GNUC__)
#define QV3_API __attribute__((visibility("default")))
#else
#define QV3_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Every outcome of a call. qv3_exit_status gives the command line's exit status for each:
 * 0 for QV3_OK, 2 for the usage errors (1 … 9), 130 for QV3_CANCELLED, 1 for every
 * failure of a file (100 and up). The numbers are part of the ABI: they never change. */
typedef enum qv3_code {
  QV3_OK = 0,
  /* The call itself, before any file is touched (the command line's usage errors). */
  QV3_INVALID_ARGUMENT = 1,     /* a null pointer where one is needed, unknown flags */
  QV3_EMPTY_PASSWORD_REFUSED = 2, /* an empty password without QV3_EMPTY_PASSWORD */
  QV3_PASSWORD_NOT_EMPTY = 3,   /* QV3_EMPTY_PASSWORD with a password that is not empty */
  QV3_PASSWORD_TOO_LONG = 4,    /* a new container's password over 11 bytes without
                                   QV3_LONG_PASSWORD: no desktop viewer could open it */
  QV3_PASSWORD_NOT_KEPT = 5,    /* a typed password with characters no form holds */
  QV3_NOT_AVAILABLE = 6,        /* a file operation in a build without files (WebAssembly) */
  /* The caller's progress callback asked to stop: nothing was left behind. */
  QV3_CANCELLED = 10,
  /* A file's failure: its output, if any, was removed (the command line's status 1). */
  QV3_SIZE_UNKNOWN = 100,
  QV3_TOO_SMALL = 101,
  QV3_TOO_SMALL_V2 = 102,
  QV3_HEAD_UNREADABLE = 103,
  QV3_BAD_SIGNATURE = 104,
  QV3_BAD_VERSION = 105,
  QV3_EXTENSION_LENGTH_UNREADABLE = 106,
  QV3_EXTENSION_UNREADABLE = 107,
  QV3_BAD_CIPHER_LENGTH = 108,
  QV3_UNREADABLE = 109,
  QV3_WRONG_PASSWORD = 110,     /* versions 1 and 2: wrong password or damaged key block */
  QV3_WRONG_PASSWORD_OR_DAMAGED = 111, /* version 0: wrong password or damaged data */
  QV3_DAMAGED = 112,            /* versions 1 and 2: the data's MAC differs */
  QV3_WRITE_FAILED = 113,
  QV3_KEY_BLOCK_WRITE_FAILED = 114,
  QV3_NEXT_WRITE_FAILED = 115,
  QV3_INVALID_NAME = 116,
  QV3_ODD_NAME = 117,
  QV3_NOT_A_CONTAINER_NAME = 118,
  QV3_INPUT_MISSING = 119,
  QV3_DIRECTORY_NOT_DECRYPTED = 120,
  QV3_DIRECTORY_NOT_ENCRYPTED = 121,
  QV3_INPUT_NOT_OPENED = 122,
  QV3_OUTPUT_NOT_CREATED = 123, /* the plaintext cannot be created or put in place */
  QV3_OUTPUT_NOT_OPENED = 124,  /* the container cannot be created (it exists, for one) */
  QV3_TEMPORARY_NAMES_TAKEN = 125,
  QV3_SOURCE_NOT_DELETED = 126, /* QV3_DELETE_SOURCE failed: the output stays */
  QV3_SOURCE_IS_LINK = 127,     /* QV3_DELETE_SOURCE on a link: nothing removed */
  QV3_NO_CRYPTO_PROVIDER = 128,
  QV3_NO_RANDOM_BYTES = 129,
  QV3_OUT_OF_MEMORY = 130,
  QV3_THREAD_NOT_CREATED = 131
} qv3_code;

/* The command line's exit status for code (0, 1, 2 or 130). */
QV3_API int qv3_exit_status(int code);

/* A failure: made by the call that failed, released by the caller with qv3_error_free. */
typedef struct qv3_error qv3_error;
QV3_API int qv3_error_code(const qv3_error *error);
/* The system's error number (errno, or GetLastError on Windows); 0 for none. */
QV3_API uint32_t qv3_error_system_code(const qv3_error *error);
/* The message as the command line prints it, in the user's language (the system's text
 * for a non-zero system code after ":\n"). Lives as long as error. */
QV3_API const char *qv3_error_message(const qv3_error *error);
/* The file the failure is about ("" for none). Lives as long as error. */
QV3_API const char *qv3_error_path(const qv3_error *error);
QV3_API void qv3_error_free(qv3_error *error); /* null is allowed */

/* Frees what the library returned to be freed by the caller (a path). */
QV3_API void qv3_free(void *memory);

/* "1.0.0": the library's version. */
QV3_API const char *qv3_version(void);

/* Flags of qv3_decrypt_file, qv3_encrypt_file and the reader and writer. */
#define QV3_OVERWRITE 0x01u      /* decrypt: replace a file at the plaintext's path (even
                                    a read-only one), once the container authenticated */
#define QV3_DELETE_SOURCE 0x02u  /* remove the input once its output is in place */
#define QV3_LONG_PASSWORD 0x04u  /* encrypt: accept a password over 11 bytes */
#define QV3_EMPTY_PASSWORD 0x08u /* an empty password is meant (else it is refused) */
#define QV3_PASSWORD_BYTES 0x10u /* the password is bytes as given (as a password file's),
                                    tried first as they are and then, when they are UTF-8,
                                    as typed text; encrypting keys with them as they are.
                                    Without it the password is UTF-8 text as a person
                                    typed it: the password rule above. */
#define QV3_TO_WORKING_FOLDER 0x20u /* decrypt: into the viewers' working folder, dst (null:
                                       this user's), replacing there what is not
                                       read-only, as the viewers do */

/* What a file call tells as it works, each on the calling thread, each may be null:
 * - callback: how much of the file is done, 0 to 100, never less than before; called
 *   as the value grows and, while the work goes on, at least every quarter second (for
 *   a display of the rate); returning non-zero cancels the work.
 * - cancelled: asked often between pieces of work (keep it cheap); non-zero cancels.
 * - notice: something the user should know as it happens, in the user's language:
 *   code QV3_OK for what is no failure (a temporary file a dead run left was removed),
 *   else a failure (the call's error is the first of them).
 * A cancelled call leaves nothing behind and fails with QV3_CANCELLED. */
typedef int (*qv3_progress_fn)(void *context, unsigned percent);
typedef int (*qv3_cancel_fn)(void *context);
typedef void (*qv3_notice_fn)(void *context, int code, const char *message);
typedef struct qv3_progress {
  uint32_t struct_size; /* set by the caller to sizeof(qv3_progress) */
  qv3_progress_fn callback;
  qv3_cancel_fn cancelled;
  qv3_notice_fn notice;
  void *context;
} qv3_progress;

/* What a container says of itself, read without the password. Nothing of it is
 * authenticated: anyone can change it, and the last length byte (which sets the
 * plaintext's length) is outside both MACs by the format's design, so up to 15 bytes at
 * the end can be cut or padded undetected. */
typedef struct qv3_info {
  uint32_t struct_size;        /* set by the caller to sizeof(qv3_info) */
  uint32_t version;            /* 0, 1 or 2 */
  uint64_t container_size;
  uint64_t ciphertext_length;
  uint64_t plaintext_length;
  uint32_t extension_count;
  char created_by[256];        /* a CREATED_BY extension's text, cut to fit; "" for none */
} qv3_info;

/* Fills *info for the container at path. */
QV3_API int qv3_inspect(const char *path, qv3_info *info, qv3_error **error);

/* Decrypts the container at src into dst (null: beside it, its name less its
 * extension), read-only. password: password_len bytes (null only when password_len is 0).
 * A container with a category extension is tried with the empty password first. The
 * output exists under its name only on QV3_OK (and QV3_SOURCE_NOT_DELETED, where it is
 * complete and the container could not be removed); on any other code nothing was left. */
QV3_API int qv3_decrypt_file(const char *src, const char *dst, const char *password, size_t password_len,
                             unsigned flags, const qv3_progress *progress, qv3_error **error);

/* Encrypts the file at src into a version 2 container beside it, named src + ".aqv3"
 * (with the empty password, the extension of the file's kind: ".wqv3", ".pqv3" …). An
 * existing file of that name is never replaced. *container_path (when not null) receives
 * the container's path on QV3_OK, to be freed with qv3_free. */
QV3_API int qv3_encrypt_file(const char *src, const char *password, size_t password_len, unsigned flags,
                             const qv3_progress *progress, char **container_path, qv3_error **error);

/* Reads size bytes from the source, in order: returns how many were read (fewer only at
 * the end), or -1 for a failure (the library then fails with QV3_UNREADABLE). */
typedef long long (*qv3_read_fn)(void *context, void *buffer, size_t size);
/* Back to the source's first byte (null where the source cannot: then a version 0
 * container can be tried with one password form only, the first). 0 on success. */
typedef int (*qv3_rewind_fn)(void *context);
typedef struct qv3_source {
  qv3_read_fn read;
  qv3_rewind_fn rewind;
  void *context;
  uint64_t size; /* the container's size in bytes */
} qv3_source;

/* A streaming reader of one container.
 *
 * UNAUTHENTICATED DATA: qv3_reader_read yields plaintext as it decrypts it, before the
 * MAC over the whole container has been checked. Until qv3_reader_finish returns QV3_OK,
 * everything read may have been changed by anyone (versions 1 and 2: a wrong password is
 * found by qv3_reader_open; damage only by qv3_reader_finish). Keep what you read apart
 * and use it only once qv3_reader_finish has succeeded, or accept the risk knowingly. */
typedef struct qv3_reader qv3_reader;
/* Reads the head and finds the password form that opens the container. name: what the
 * messages call it (and whose category extension makes the empty password be tried
 * first); may be null. The source's callbacks are called during every reader call. */
QV3_API int qv3_reader_open(const qv3_source *source, const char *name, const char *password,
                            size_t password_len, unsigned flags, qv3_reader **reader, qv3_error **error);
/* The reader of the file at path. */
QV3_API int qv3_reader_open_file(const char *path, const char *password, size_t password_len, unsigned flags,
                                 qv3_reader **reader, qv3_error **error);
/* The next plaintext bytes, UNAUTHENTICATED (see above): *got receives how many (0 once
 * the ciphertext is used up). capacity must be at least 16. */
QV3_API int qv3_reader_read(qv3_reader *reader, void *buffer, size_t capacity, size_t *got, qv3_error **error);
/* Reads what is left and checks the MAC: QV3_OK is the only proof that the plaintext
 * read is the one the container was made with. */
QV3_API int qv3_reader_finish(qv3_reader *reader, qv3_error **error);
QV3_API void qv3_reader_close(qv3_reader *reader); /* null is allowed; wipes the keys */

/* Writes size bytes to the sink: returns 0, or non-zero for a failure (the library then
 * fails with QV3_WRITE_FAILED). Called in order, never two at once, from the calling
 * thread or one of the library's own, only until qv3_writer_finish or qv3_writer_close
 * has returned. */
typedef int (*qv3_write_fn)(void *context, const void *buffer, size_t size);
typedef struct qv3_sink {
  qv3_write_fn write;
  void *context;
} qv3_sink;

/* A streaming writer of one version 2 container into a sink. What it wrote is a
 * container only once qv3_writer_finish has returned QV3_OK. name: what the messages
 * call it (may be null). */
typedef struct qv3_writer qv3_writer;
QV3_API int qv3_writer_open(const qv3_sink *sink, const char *name, const char *password, size_t password_len,
                            unsigned flags, qv3_writer **writer, qv3_error **error);
QV3_API int qv3_writer_write(qv3_writer *writer, const void *data, size_t size, qv3_error **error);
QV3_API int qv3_writer_finish(qv3_writer *writer, qv3_error **error);
QV3_API void qv3_writer_close(qv3_writer *writer); /* null is allowed; wipes the keys */

/* The extension (without the dot) a container made of path is named with: "aqv3" when
 * a password is set, else the one of the file's kind ("wqv3", "pqv3" …). Never null. */
QV3_API const char *qv3_container_extension(const char *path, int empty_password);

/* Whether path ends in a container's extension (".aqv3" or a category's, any case): the
 * names whose plaintext is named by taking the last five bytes off. */
QV3_API int qv3_is_container_name(const char *path);

#ifdef __cplusplus
}
#endif

#endif /* QV3_H */
