#include "platform/PreferredApplication.h"

// GIO reads the desktop's settings exactly as the desktop's own launchers do. Its headers use
// names (signals) that Qt defines as macros, so this file includes nothing of Qt.
#include <gio/gio.h>

std::string PreferredApplicationProgram(const std::string& contentType) {
  GAppInfo* application = g_app_info_get_default_for_type(contentType.c_str(), FALSE);
  if (application == nullptr) {
    return {};
  }
  const char* program = g_app_info_get_executable(application);
  std::string result = program != nullptr ? program : "";
  g_object_unref(application);
  return result;
}
