/* The copy benchmark's reference: a plain program that moves one file into a
 * new file through its own memory with 1 MiB read and write calls, the way
 * any program that does not use in-kernel copies must.
 *
 *   plaincopy SOURCE DESTINATION
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char** argv) {
  enum { kBlock = 1 << 20 };
  if (argc != 3) {
    fprintf(stderr, "usage: plaincopy SOURCE DESTINATION\n");
    return 2;
  }
  int in = open(argv[1], O_RDONLY | O_CLOEXEC);
  int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  char* buffer = malloc(kBlock);
  if (in < 0 || out < 0 || buffer == NULL) {
    perror("plaincopy");
    return 1;
  }
  for (;;) {
    ssize_t got = read(in, buffer, kBlock);
    if (got < 0) {
      perror("plaincopy: read");
      return 1;
    }
    if (got == 0) break;
    for (ssize_t done = 0; done < got;) {
      ssize_t put = write(out, buffer + done, (size_t)(got - done));
      if (put <= 0) {
        perror("plaincopy: write");
        return 1;
      }
      done += put;
    }
  }
  free(buffer);
  close(in);
  return close(out) == 0 ? 0 : 1;
}
