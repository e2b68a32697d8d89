/*
 * A small interpreter library for the bridge's tests, written against
 * scripting/morvex_interpreter.h only. Each line of the script is one
 * command; the output collects and becomes the destination's content.
 *   copy      the source's bytes
 *   upper     Source.Text upper-cased (ASCII), assigned to Destination.Text
 *   params    "count|name=value|..." read through param_name and param_value
 *   options   Transform.Delimiter and Transform.HeaderRow through the objects
 *   command   the command string
 *   items     the items of the command string, each in brackets
 *   second    the second text
 *   variant   which library file this is (VARIANT)
 *   badindex  the error text of MORVEX.ParamNames(99)
 *   flag      the flag as passed
 *   result N  return code N, with the text "result N" (later lines ignored)
 * Loading the library sets the environment variable
 * MORVEX_TEST_INTERPRETER_LOADED to its variant, so that tests can tell
 * whether its code ran.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "scripting/morvex_interpreter.h"

#ifndef VARIANT
#define VARIANT "ECL"
#endif

typedef struct {
  char* data;
  size_t size;
} buffer;

static void append(buffer* out, const char* bytes, size_t size) {
  out->data = realloc(out->data, out->size + size + 1);
  memcpy(out->data + out->size, bytes, size);
  out->size += size;
}

static void append_text(buffer* out, const char* text) { append(out, text, strlen(text)); }

/* UTF-16 to bytes; the tests use ASCII only. */
static void append_u16(buffer* out, const char16_t* text) {
  for (; text && *text; ++text) {
    char c = *text < 0x80 ? (char)*text : '?';
    append(out, &c, 1);
  }
}

static char16_t* to_u16(const char* text) {
  size_t n = strlen(text);
  char16_t* out = malloc((n + 1) * sizeof(char16_t));
  for (size_t i = 0; i <= n; ++i) out[i] = (unsigned char)text[i];
  return out;
}

__attribute__((constructor)) static void loaded(void) {
  setenv("MORVEX_TEST_INTERPRETER_LOADED", VARIANT, 1);
}

/* The next item of a command string at *at: a quoted text whose doubled
 * quotes stand for one quote, up to the closing quote and the space after
 * it. Advances *at; false at the end. */
static int next_item(const char16_t** at, buffer* item) {
  const char16_t* p = *at;
  item->size = 0;
  while (*p == u' ') ++p;
  if (*p != u'"') return 0;
  for (++p; *p; ++p) {
    if (*p == u'"') {
      if (p[1] != u'"') {
        ++p;
        break;
      }
      ++p;
    }
    char16_t one[2] = {*p, 0};
    append_u16(item, one);
  }
  append(item, "", 1);
  *at = p;
  return 1;
}

/* The host interface: only the first item carries it. */
static morvex_host* host_of(const char16_t* command) {
  static const char prefix[] = "/zqs{host-interface=";
  buffer item = {0, 0};
  morvex_host* host = NULL;
  if (next_item(&command, &item) && strncmp(item.data, prefix, sizeof prefix - 1) == 0) {
    host = (morvex_host*)(uintptr_t)strtoull(item.data + sizeof prefix - 1, NULL, 10);
  }
  free(item.data);
  return host;
}

static morvex_object* child(morvex_host* host, const char* name) {
  morvex_value value;
  char16_t* name16 = to_u16(name);
  int failed = host->api->get_property(host, host->root, name16, &value);
  free(name16);
  return failed || value.type != MORVEX_OBJECT ? NULL : value.object;
}

static int32_t run(const char16_t* script, const char16_t* second, const char16_t* command,
                   int32_t flag, char16_t** result) {
  morvex_host* host = host_of(command);
  buffer lines = {0, 0}, out = {0, 0};
  int32_t code = 0;
  if (!host) return 1;
  append_u16(&lines, script);
  append(&lines, "", 1);
  for (char* line = strtok(lines.data, "\r\n"); line; line = strtok(NULL, "\r\n")) {
    if (strcmp(line, "copy") == 0) {
      const unsigned char* bytes;
      size_t size;
      if (host->api->read_source(host, &bytes, &size) == 0 && bytes) {
        append(&out, (const char*)bytes, size);
      }
    } else if (strcmp(line, "upper") == 0) {
      morvex_value text;
      char16_t name[] = u"tEXT";
      if (host->api->get_property(host, child(host, "source"), name, &text) == 0) {
        buffer upper = {0, 0};
        append_u16(&upper, text.text);
        append(&upper, "", 1);
        for (char* c = upper.data; *c; ++c) {
          if (*c >= 'a' && *c <= 'z') *c = (char)(*c - 32);
        }
        morvex_value assigned = {0};
        assigned.type = MORVEX_TEXT;
        assigned.text = to_u16(upper.data);
        host->api->set_property(host, child(host, "Destination"), u"Text", &assigned);
        free((void*)assigned.text);
        free(upper.data);
      }
    } else if (strcmp(line, "params") == 0) {
      int32_t count = host->api->param_count(host);
      char number[16];
      snprintf(number, sizeof number, "%d", (int)count);
      append_text(&out, number);
      for (int32_t i = 0; i <= count; ++i) {
        const char16_t* name = host->api->param_name(host, i);
        append_text(&out, "|");
        append_u16(&out, name ? name : u"(none)");
        append_text(&out, "=");
        const char16_t* value = name ? host->api->param_value(host, name) : NULL;
        append_u16(&out, value ? value : u"(null)");
      }
    } else if (strcmp(line, "options") == 0) {
      morvex_value delimiter, header;
      morvex_object* transform = child(host, "TRANSFORM");
      host->api->get_property(host, transform, u"delimiter", &delimiter);
      host->api->get_property(host, transform, u"HeaderRow", &header);
      append_u16(&out, delimiter.text);
      append_text(&out, header.type == MORVEX_BOOLEAN && header.boolean ? "|true" : "|false");
    } else if (strcmp(line, "command") == 0) {
      append_u16(&out, command);
    } else if (strcmp(line, "items") == 0) {
      buffer item = {0, 0};
      for (const char16_t* at = command; next_item(&at, &item);) {
        append_text(&out, "[");
        append(&out, item.data, item.size - 1);
        append_text(&out, "]");
      }
      free(item.data);
    } else if (strcmp(line, "second") == 0) {
      append_u16(&out, second);
    } else if (strcmp(line, "variant") == 0) {
      append_text(&out, VARIANT);
    } else if (strcmp(line, "flag") == 0) {
      append_text(&out, flag == 0 ? "false" : "true");
    } else if (strcmp(line, "badindex") == 0) {
      morvex_value index = {0}, name;
      index.type = MORVEX_INTEGER;
      index.integer = 99;
      if (host->api->call_method(host, host->root, u"ParamNames", &index, 1, &name) != 0) {
        append_u16(&out, host->api->last_error(host));
      }
    } else if (strncmp(line, "result ", 7) == 0) {
      code = (int32_t)atoi(line + 7);
      *result = to_u16(line);
      break;
    }
  }
  if (out.size > 0 &&
      host->api->write_destination(host, (const unsigned char*)out.data, out.size) != 0) {
    code = 1;
    *result = to_u16("cannot write the destination");
  }
  free(lines.data);
  free(out.data);
  return code;
}

int32_t zqScriptInlineEx(const char16_t* script, const char16_t* second, const char16_t* command,
                         int32_t flag, char16_t** result) {
  return run(script, second, command, flag, result);
}

int32_t zqScriptInlineExLib(const char16_t* script, const char16_t* second, const char16_t* command,
                            int32_t flag, char16_t** result, const char16_t* library) {
  (void)library;
  return run(script, second, command, flag, result);
}

#ifndef WITHOUT_FREE
void zqsFreeMem(void* pointer) { free(pointer); }
#endif
