/*
 * The interface between morvex and an external zqScript interpreter library
 * ("libzqScriptECL.so", the console variant, or "libzqScriptE.so"). The
 * library exports the three entry points below; morvex loads it once per
 * run with dlopen and calls them on its own thread. A library whose dynamic
 * symbol table lacks one of them is refused without being loaded.
 *
 * All texts are zero-terminated UTF-16 (char16_t).
 *
 * The command string morvex passes reads
 *   "/zqs{host-interface=N,MORVEX;}" "name=value" ...
 * (each item in double quotes and followed by one space; a double quote
 * inside an item is doubled, so "a=say ""hi""" is the item a=say "hi"): N is
 * the decimal address of a morvex_host, then the command line's parameter
 * texts in order. Only the first item carries the host interface; a
 * parameter text that looks like one is a parameter.
 * Through that host the interpreter reaches the MORVEX object model: the
 * source, the transform options, the destination and the parameters.
 */
#ifndef MORVEX_INTERPRETER_H
#define MORVEX_INTERPRETER_H

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* --- Entry points the interpreter library exports --- */

/* Runs `script` (with the optional `second` text) under `command`. `flag` is
 * -1 for true and 0 for false. The interpreter may return a text in *result
 * (allocated by itself, released through zqsFreeMem) or leave it null.
 * Result codes: -4 "Interpreter not found!" (never returned by a library
 * morvex could load), 1 and -3 failure with *result as the error text, any
 * other code success. */
typedef int32_t (*zqScriptInlineEx_fn)(const char16_t* script, const char16_t* second,
                                       const char16_t* command, int32_t flag, char16_t** result);
/* The same with a library name as the last argument; morvex never passes
 * one, but the entry point must exist. */
typedef int32_t (*zqScriptInlineExLib_fn)(const char16_t* script, const char16_t* second,
                                          const char16_t* command, int32_t flag, char16_t** result,
                                          const char16_t* library);
/* Releases a result text the interpreter returned. */
typedef void (*zqsFreeMem_fn)(void* pointer);

/* --- The host interface: the MORVEX object model as C functions --- */

typedef struct morvex_object morvex_object; /* opaque: MORVEX, its children, streams */

enum morvex_value_type {
  MORVEX_NULL = 0,
  MORVEX_BOOLEAN = 1,
  MORVEX_INTEGER = 2,
  MORVEX_NUMBER = 3,
  MORVEX_TEXT = 4,  /* text: zero-terminated UTF-16 */
  MORVEX_BYTES = 5, /* bytes, size */
  MORVEX_OBJECT = 6
};

typedef struct morvex_value {
  int32_t type; /* enum morvex_value_type */
  int32_t boolean;
  int64_t integer;
  double number;
  const char16_t* text;
  const unsigned char* bytes;
  size_t size;
  morvex_object* object;
} morvex_value;

typedef struct morvex_host morvex_host;

/* Every function returns 0 on success and -1 on failure, after which
 * last_error gives the message. Texts, bytes and objects handed out stay
 * valid until the interpreter call returns. Names of members match without
 * regard to letter case: "Source", "Transform", "Destination" on the root;
 * "Kind", "Name", "Text", "Value", "GetStream" (and "Encoding" on the
 * source) on source and destination; the ten transform options; "Read",
 * "Write", "Seek", "Position", "Size" on a stream. */
typedef struct morvex_host_api {
  uint32_t size; /* sizeof(morvex_host_api): later versions only grow */
  int (*get_property)(morvex_host* host, morvex_object* object, const char16_t* name,
                      morvex_value* out);
  int (*set_property)(morvex_host* host, morvex_object* object, const char16_t* name,
                      const morvex_value* value);
  int (*call_method)(morvex_host* host, morvex_object* object, const char16_t* name,
                     const morvex_value* arguments, int32_t count, morvex_value* out);
  const char16_t* (*last_error)(morvex_host* host);

  /* Shortcuts over the same objects. */
  /* The source's bytes (Source.Value); a null `bytes` when it has none. */
  int (*read_source)(morvex_host* host, const unsigned char** bytes, size_t* size);
  /* Replaces the destination's content with `size` bytes (Destination.Value). */
  int (*write_destination)(morvex_host* host, const unsigned char* bytes, size_t size);
  int32_t (*param_count)(morvex_host* host);
  /* The name of parameter `index` (from 0); null out of range. */
  const char16_t* (*param_name)(morvex_host* host, int32_t index);
  /* The value of the first parameter named `name` (letter case ignored);
   * null when there is none. */
  const char16_t* (*param_value)(morvex_host* host, const char16_t* name);
} morvex_host_api;

/* What the host-interface value of the command string points at. */
struct morvex_host {
  const morvex_host_api* api;
  morvex_object* root; /* MORVEX */
};

#ifdef __cplusplus
}
#endif

#endif /* MORVEX_INTERPRETER_H */
