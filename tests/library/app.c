/* A small C program against the installed library (or the DLL): interleaved f32 on
 * standard input, processed in buffers of odd sizes, written on standard
 * output. Usage: app MODE ADAPT RATE CHANNELS */
#include <stdio.h>
#include <stdlib.h>
#include <vantle-tonbrel.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
  if (argc != 5) return 2;
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  const int mode = atoi(argv[1]);
  const int channels = atoi(argv[4]);
  vantle_tonbrel* stream = vantle_tonbrel_create(atof(argv[3]));
  if (stream == NULL) return 3;
  int status =
      vantle_tonbrel_apply(stream, mode, atof(argv[2]), vantle_tonbrel_default_input_db(mode));
  if (status != VANTLE_TONBREL_OK) {
    fprintf(stderr, "app: %s\n", vantle_tonbrel_status_text(status));
    return 4;
  }
  static float buffer[2 * 977];
  size_t frames;
  while ((frames = fread(buffer, sizeof(float) * (size_t)channels, 977, stdin)) > 0) {
    status = vantle_tonbrel_process(stream, buffer, frames, channels);
    if (status != VANTLE_TONBREL_OK) return 5;
    fwrite(buffer, sizeof(float) * (size_t)channels, frames, stdout);
  }
  fprintf(stderr, "app: library %s, latency %d frames\n", vantle_tonbrel_version(),
          vantle_tonbrel_latency(stream));
  vantle_tonbrel_destroy(stream);
  return 0;
}
