#define _POSIX_C_SOURCE 200809L
/* Cues a virtual deck, plays it to a position and waits for the notification.
 * Build: cc play_to.c $(pkg-config --cflags --libs vtr422) -o play_to */
#include <pthread.h>
#include <stdio.h>
#include <time.h>
#include <vtr422.h>

static pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t arrived = PTHREAD_COND_INITIALIZER;
static unsigned result; /* 0 until the notification comes */

static void on_notify(vtr_library* lib, unsigned device_id, unsigned code, void* user) {
  (void)lib, (void)device_id, (void)user;
  pthread_mutex_lock(&mutex);
  result = code;
  pthread_cond_signal(&arrived);
  pthread_mutex_unlock(&mutex);
}

static int run(vtr_library* lib, const char* command, vtr_notify_fn fn) {
  char ret[128], text[256], why[256];
  unsigned err = vtr_send_string(lib, command, ret, sizeof ret, fn, NULL);
  vtr_error_text(err, text, sizeof text);
  vtr_last_detail(why, sizeof why); /* why the port failed, if it did */
  printf("%s -> %s%s%s\n", command, err ? text : (ret[0] ? ret : "ok"), why[0] ? " " : "", why);
  return err == 0;
}

int main(void) {
  struct timespec deadline;
  vtr_library* lib = vtr_open_library();
  int ok = lib && vtr_attach_virtual_deck(lib, "COM2", "BVW-75", "ntsc") == 0 &&
           run(lib, "open vcr alias tape", NULL) && run(lib, "cue tape to 300 wait", NULL) &&
           run(lib, "play tape to 390 notify", on_notify);
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += 30;
  pthread_mutex_lock(&mutex);
  while (ok && result == 0 && pthread_cond_timedwait(&arrived, &mutex, &deadline) == 0) continue;
  pthread_mutex_unlock(&mutex);
  printf("notify %s\n", result == VTR_NOTIFY_SUCCESSFUL ? "successful" : "missing or failed");
  ok = ok && result == VTR_NOTIFY_SUCCESSFUL && run(lib, "status tape position", NULL);
  vtr_close_library(lib);
  return ok ? 0 : 1;
}
