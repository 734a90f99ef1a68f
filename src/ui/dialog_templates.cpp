#include <mutex>
#include <vector>

#include "ui/dialog_template.h"

namespace {

std::mutex& RegistryLock() {
  static std::mutex lock;
  return lock;
}

std::vector<const DialogTemplate*>& Registered() {
  static std::vector<const DialogTemplate*> templates;
  return templates;
}

}  // namespace

void RegisterDialogTemplate(const DialogTemplate* tmpl) {
  if (!tmpl) return;
  std::lock_guard<std::mutex> hold(RegistryLock());
  for (const DialogTemplate*& known : Registered()) {
    if (known->id == tmpl->id) {
      known = tmpl;
      return;
    }
  }
  Registered().push_back(tmpl);
}

const DialogTemplate* FindDialogTemplate(int id) {
  {
    std::lock_guard<std::mutex> hold(RegistryLock());
    for (const DialogTemplate* known : Registered())
      if (known->id == id) return known;
  }
  if (id == MAIN_WINDOW_TEMPLATE.id) return &MAIN_WINDOW_TEMPLATE;
  return nullptr;
}
