/* SPDX-License-Identifier: Apache-2.0 */
/* A C program on libquarn, as a caller outside the project writes one.
 *
 *   quarn_events DATA_DIR THREADS [--together] [NAME=VALUE ...] -- PATH ...
 *     (DATA_DIR "-": the library's own; --together: all paths in one quarn_scan_paths call)
 *     scans every PATH on each of THREADS threads at once over one engine, checks that every
 *     thread received the same events, and prints them, one per line;
 *   quarn_events DATA_DIR --misuse PATH
 *     checks the answers to wrong use (null handles, bad options, a missing target, closing an
 *     engine in use, a scan cancelled by its callback) and prints what failed. */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <quarn/quarn.h>

struct event_list {
  char* text;
  size_t length;
  size_t capacity;
};

static int keep_event(const char* json_event, void* context) {
  struct event_list* list = context;
  size_t needed = strlen(json_event) + 1;
  if (list->length + needed + 1 > list->capacity) {
    size_t capacity = (list->capacity + needed) * 2;
    char* grown = realloc(list->text, capacity);
    if (grown == NULL) return 1;
    list->text = grown;
    list->capacity = capacity;
  }
  memcpy(list->text + list->length, json_event, needed - 1);
  list->length += needed;
  list->text[list->length - 1] = '\n';
  list->text[list->length] = '\0';
  return 0;
}

struct scan_job {
  quarn_engine* engine;
  const quarn_scan_options* options;
  char** paths;
  int path_count;
  int together; /* all paths in one quarn_scan_paths call */
  struct event_list events;
  int failed;
};

static void* scan_all(void* argument) {
  struct scan_job* job = argument;
  if (job->together) {
    char* message = NULL;
    quarn_status status =
        quarn_scan_paths(job->engine, (const char* const*)job->paths, (size_t)job->path_count,
                         job->options, keep_event, &job->events, &message);
    if (status != QUARN_OK) {
      fprintf(stderr, "quarn_events: status %d: %s\n", status, message ? message : "(none)");
      job->failed = 1;
    }
    quarn_free_message(message);
    return NULL;
  }
  for (int i = 0; i < job->path_count; ++i) {
    char* message = NULL;
    quarn_status status = quarn_scan_path(job->engine, job->paths[i], job->options, keep_event,
                                          &job->events, &message);
    if (status != QUARN_OK) {
      fprintf(stderr, "quarn_events: %s: status %d: %s\n", job->paths[i], status,
              message ? message : "(no message)");
      job->failed = 1;
    }
    quarn_free_message(message);
  }
  return NULL;
}

static int scan_on_threads(quarn_engine* engine, int threads, int argc, char** argv) {
  quarn_scan_options* options = quarn_scan_options_new();
  int first_path = 0;
  int together = 0;
  for (int i = 0; i < argc; ++i) {
    if (strcmp(argv[i], "--") == 0) {
      first_path = i + 1;
      break;
    }
    if (strcmp(argv[i], "--together") == 0) {
      together = 1;
      continue;
    }
    char* equals = strchr(argv[i], '=');
    char* message = NULL;
    if (equals == NULL) return 2;
    *equals = '\0';
    if (quarn_scan_options_set(options, argv[i], equals + 1, &message) != QUARN_OK) {
      fprintf(stderr, "quarn_events: %s\n", message);
      return 2;
    }
  }
  struct scan_job* jobs = calloc((size_t)threads, sizeof *jobs);
  pthread_t* ids = calloc((size_t)threads, sizeof *ids);
  for (int t = 0; t < threads; ++t) {
    jobs[t].engine = engine;
    jobs[t].options = options;
    jobs[t].paths = argv + first_path;
    jobs[t].path_count = argc - first_path;
    jobs[t].together = together;
    pthread_create(&ids[t], NULL, scan_all, &jobs[t]);
  }
  int failed = 0;
  for (int t = 0; t < threads; ++t) {
    pthread_join(ids[t], NULL);
    failed |= jobs[t].failed;
    if (t > 0 && strcmp(jobs[t].events.text ? jobs[t].events.text : "",
                        jobs[0].events.text ? jobs[0].events.text : "") != 0) {
      fprintf(stderr, "quarn_events: thread %d received other events than thread 0\n", t);
      failed = 1;
    }
  }
  if (jobs[0].events.text != NULL) fputs(jobs[0].events.text, stdout);
  for (int t = 0; t < threads; ++t) free(jobs[t].events.text);
  free(jobs);
  free(ids);
  quarn_scan_options_free(options);
  return failed;
}

/* Each wrong use, and the answer it must get. */
static int failures = 0;
static void expect(int condition, const char* what) {
  if (!condition) {
    printf("FAILED: %s\n", what);
    ++failures;
  }
}

struct close_attempt {
  quarn_engine* engine;
  quarn_status answer;
  int events;
};

static int close_while_scanning(const char* json_event, void* context) {
  struct close_attempt* attempt = context;
  (void)json_event;
  if (attempt->events++ == 0) attempt->answer = quarn_engine_close(attempt->engine);
  return 0;
}

static int stop_at_first(const char* json_event, void* context) {
  struct event_list* list = context;
  keep_event(json_event, list);
  return 1;
}

/* The summary's "scanned" count in a list of events, -1 without one. */
static long scanned_count(const char* events) {
  const char* summary = events ? strstr(events, "\"event\":\"summary\"") : NULL;
  const char* scanned = summary ? strstr(summary, "\"scanned\":") : NULL;
  return scanned ? strtol(scanned + strlen("\"scanned\":"), NULL, 10) : -1;
}

static int misuse(quarn_engine* engine, const char* path) {
  char* message = NULL;
  quarn_engine* none = NULL;
  expect(quarn_engine_open("/nonexistent-folder", &none, &message) == QUARN_EDATABASE &&
             none == NULL && message != NULL && strstr(message, "/nonexistent-folder") != NULL,
         "a missing data folder is a database error naming the folder");
  quarn_free_message(message);
  expect(quarn_engine_open(NULL, NULL, NULL) == QUARN_EINVAL, "no place for the engine");
  expect(quarn_engine_close(NULL) == QUARN_EINVAL, "closing no engine");
  expect(quarn_scan_path(NULL, path, NULL, keep_event, NULL, NULL) == QUARN_EINVAL,
         "a scan without an engine");
  expect(quarn_scan_path(engine, NULL, NULL, keep_event, NULL, NULL) == QUARN_EINVAL,
         "a scan without a path");
  expect(quarn_scan_path(engine, path, NULL, NULL, NULL, NULL) == QUARN_EINVAL,
         "a scan without a callback");
  expect(quarn_scan_buffer(engine, NULL, 5, "x", NULL, keep_event, NULL, NULL) == QUARN_EINVAL,
         "a buffer without data");

  quarn_scan_options* options = quarn_scan_options_new();
  message = NULL;
  expect(quarn_scan_options_set(options, "files", "some", &message) == QUARN_EINVAL &&
             message != NULL && strstr(message, "some") != NULL,
         "a wrong value is refused, named");
  quarn_free_message(message);
  message = NULL;
  expect(quarn_scan_options_set(options, "max-depth", "-1", &message) == QUARN_EINVAL &&
             message != NULL && strstr(message, "max-depth") != NULL,
         "a wrong limit is refused, named");
  quarn_free_message(message);
  expect(quarn_scan_options_set(options, "colour", "red", NULL) == QUARN_EINVAL,
         "an unknown option");
  expect(quarn_scan_options_set(options, "max-size", "5M", NULL) == QUARN_EINVAL,
         "an unknown limit");
  expect(quarn_scan_options_set(options, "files", "all", NULL) == QUARN_OK, "files all");
  quarn_scan_options_free(options);

  struct event_list events = {0};
  message = NULL;
  expect(quarn_scan_path(engine, "/nonexistent-target", NULL, keep_event, &events, &message) ==
                 QUARN_ETARGET &&
             message != NULL && strstr(message, "/nonexistent-target") != NULL &&
             events.length == 0,
         "a missing target is an error naming it, with no event");
  quarn_free_message(message);
  expect(quarn_scan_fd(engine, 9999, NULL, keep_event, &events, NULL) == QUARN_ETARGET,
         "a closed descriptor");
  const char* some_missing[] = {path, "/nonexistent-target"};
  message = NULL;
  expect(quarn_scan_paths(engine, some_missing, 2, NULL, keep_event, &events, &message) ==
                 QUARN_ETARGET &&
             message != NULL && strstr(message, "/nonexistent-target") != NULL &&
             events.length == 0,
         "a list with a missing target scans nothing and names it");
  quarn_free_message(message);
  const char* null_inside[] = {path, NULL};
  expect(quarn_scan_paths(engine, null_inside, 2, NULL, keep_event, &events, NULL) == QUARN_EINVAL,
         "a null path in a list");

  struct close_attempt attempt = {engine, QUARN_OK, 0};
  expect(quarn_scan_path(engine, path, NULL, close_while_scanning, &attempt, NULL) == QUARN_OK,
         "the scan in which the callback tries to close the engine");
  expect(attempt.events > 0 && attempt.answer == QUARN_EBUSY, "closing an engine in use");

  quarn_scan_options* all = quarn_scan_options_new();
  quarn_scan_options_set(all, "files", "all", NULL);
  struct event_list whole = {0};
  expect(quarn_scan_path(engine, path, all, keep_event, &whole, NULL) == QUARN_OK,
         "the whole scan");
  expect(quarn_scan_path(engine, path, all, stop_at_first, &events, NULL) == QUARN_CANCELLED,
         "a callback that asks to stop cancels the scan");
  expect(events.text != NULL && strstr(events.text, "\"event\":\"summary\"") != NULL,
         "the cancelled scan's summary is delivered");
  expect(scanned_count(events.text) < scanned_count(whole.text) / 2,
         "the cancelled scan stops after the file in hand");
  quarn_scan_options_free(all);
  free(whole.text);
  free(events.text);
  printf("%d failed\n", failures);
  return failures != 0;
}

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr,
            "usage: quarn_events DATA_DIR THREADS [--together] [NAME=VALUE ...] -- PATH ...\n"
            "       quarn_events DATA_DIR --misuse PATH\n");
    return 2;
  }
  if (strcmp(quarn_version(), QUARN_EXPECTED_VERSION) != 0) {
    fprintf(stderr, "quarn_events: version %s\n", quarn_version());
    return 1;
  }
  quarn_engine* engine = NULL;
  char* message = NULL;
  /* "-": the data folder installed with the library. */
  const char* data_dir = strcmp(argv[1], "-") == 0 ? NULL : argv[1];
  if (quarn_engine_open(data_dir, &engine, &message) != QUARN_OK) {
    fprintf(stderr, "quarn_events: %s\n", message);
    quarn_free_message(message);
    return 1;
  }
  int status = strcmp(argv[2], "--misuse") == 0
                   ? misuse(engine, argv[3])
                   : scan_on_threads(engine, atoi(argv[2]), argc - 3, argv + 3);
  if (quarn_engine_close(engine) != QUARN_OK) status = 1;
  return status;
}
