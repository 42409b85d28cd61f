/* A program as a user of libqv3 writes one, built against the installed library (the
 * Debian -dev package through pkg-config, or qv3.dll under Wine):
 *
 *   qv3_sample CONTAINER PASSWORD_FILE FOLDER
 *
 * inspects CONTAINER, decrypts it into FOLDER/plain.txt, encrypts that into
 * FOLDER/plain.txt.aqv3 with the same password, reads the new container back through the
 * streaming reader and checks it against the plaintext, then makes sure a wrong password
 * and an existing output fail with their codes. Prints one line per step; exits 0 when
 * every step went as it must. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <qv3.h>

static int failures = 0;

static void check(int ok, const char *step, qv3_error *error) {
  printf("%s %s", ok ? "ok" : "FAILED", step);
  if (error) printf(" (code %d: %s)", qv3_error_code(error), qv3_error_message(error));
  printf("\n");
  if (!ok) ++failures;
  qv3_error_free(error);
}

static char *slurp(const char *path, size_t *size) {
  FILE *f = fopen(path, "rb");
  char *data = NULL;
  long length;
  if (!f) return NULL;
  if (fseek(f, 0, SEEK_END) == 0 && (length = ftell(f)) >= 0 && fseek(f, 0, SEEK_SET) == 0) {
    data = (char *)malloc((size_t)length + 1);
    if (data && fread(data, 1, (size_t)length, f) != (size_t)length) {
      free(data);
      data = NULL;
    }
    *size = (size_t)length;
  }
  fclose(f);
  return data;
}

static int last_percent = -1;
static int note_progress(void *context, unsigned percent) {
  (void)context;
  last_percent = (int)percent;
  return 0;
}

int main(int argc, char **argv) {
  char plain[4096], made[4096 + 8];
  size_t password_len = 0, plain_len = 0;
  char *password, *plaintext, *container = NULL;
  qv3_error *error = NULL;
  qv3_info info;
  qv3_reader *reader = NULL;
  qv3_progress progress;
  int status;

  if (argc != 4) {
    fprintf(stderr, "usage: qv3_sample CONTAINER PASSWORD_FILE FOLDER\n");
    return 2;
  }
  printf("libqv3 %s\n", qv3_version());
  memset(&progress, 0, sizeof progress);
  progress.struct_size = sizeof progress;
  progress.callback = note_progress;
  password = slurp(argv[2], &password_len);
  if (!password) return 2;
  while (password_len > 0 && (password[password_len - 1] == '\n' || password[password_len - 1] == '\r'))
    --password_len;
  snprintf(plain, sizeof plain, "%s/plain.txt", argv[3]);

  memset(&info, 0, sizeof info);
  info.struct_size = sizeof info;
  status = qv3_inspect(argv[1], &info, &error);
  check(status == QV3_OK && info.version <= 2, "inspect", error);
  printf("version %u, plaintext %llu bytes\n", info.version, (unsigned long long)info.plaintext_length);

  error = NULL;
  status = qv3_decrypt_file(argv[1], plain, password, password_len, QV3_PASSWORD_BYTES, &progress, &error);
  check(status == QV3_OK && last_percent == 100, "decrypt", error);
  plaintext = slurp(plain, &plain_len);
  check(plaintext != NULL && plain_len == info.plaintext_length, "plaintext length", NULL);

  error = NULL;
  status = qv3_decrypt_file(argv[1], plain, password, password_len, QV3_PASSWORD_BYTES, NULL, &error);
  check(status == QV3_OUTPUT_NOT_CREATED && qv3_exit_status(status) == 1, "existing output refused", error);

  error = NULL;
  status = qv3_decrypt_file(argv[1], NULL, "not the password", 16, 0, NULL, &error);
  check(status == QV3_WRONG_PASSWORD, "wrong password refused", error);

  error = NULL;
  status = qv3_encrypt_file(plain, password, password_len, QV3_PASSWORD_BYTES | QV3_LONG_PASSWORD, NULL, &container,
                            &error);
  snprintf(made, sizeof made, "%s.aqv3", plain);
  check(status == QV3_OK && container && strcmp(container, made) == 0, "encrypt", error);

  error = NULL;
  status = qv3_reader_open_file(made, password, password_len, QV3_PASSWORD_BYTES, &reader, &error);
  check(status == QV3_OK, "reader open", error);
  if (status == QV3_OK && plaintext) {
    char *back = (char *)malloc(plain_len + 16);
    size_t total = 0, got = 0;
    /* Read into a buffer of its own and used only once finish has said it is genuine. */
    while ((status = qv3_reader_read(reader, back + total, plain_len + 16 - total, &got, &error)) == QV3_OK &&
           got > 0)
      total += got;
    check(status == QV3_OK, "reader read", error);
    error = NULL;
    status = qv3_reader_finish(reader, &error);
    check(status == QV3_OK && total == plain_len && memcmp(back, plaintext, plain_len) == 0, "reader finish", error);
    free(back);
  }
  qv3_reader_close(reader);
  qv3_free(container);
  free(plaintext);
  free(password);
  printf("%d failed\n", failures);
  return failures ? 1 : 0;
}
