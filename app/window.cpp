#include "app/window.h"

#include <atomic>

namespace {
std::atomic<WindowBackend*> installed_backend{nullptr};
}

void InstallWindowBackend(WindowBackend* backend) {
    installed_backend.store(backend);
}

WindowHandle MainWindowHandle() {
    WindowBackend* backend = installed_backend.load();
    return backend != nullptr ? backend->Handle() : nullptr;
}

void SetControlText(int id, const std::string& text) {
    if (WindowBackend* backend = installed_backend.load()) {
        backend->SetControlText(id, text);
    }
}

std::string GetControlText(int id) {
    WindowBackend* backend = installed_backend.load();
    return backend != nullptr ? backend->GetControlText(id) : std::string();
}

void SetSelection(int id, int start, int end) {
    if (WindowBackend* backend = installed_backend.load()) {
        backend->SetSelection(id, start, end);
    }
}

void ReplaceSelection(int id, const std::string& text) {
    if (WindowBackend* backend = installed_backend.load()) {
        backend->ReplaceSelection(id, text);
    }
}

void AppendText(int id, const std::string& text) {
    if (WindowBackend* backend = installed_backend.load()) {
        backend->SetSelection(id, kTextEnd, kTextEnd);
        backend->ReplaceSelection(id, text);
    }
}

void EnableControl(int id, bool enabled) {
    if (WindowBackend* backend = installed_backend.load()) {
        backend->EnableControl(id, enabled);
    }
}

void FocusControl(int id) {
    if (WindowBackend* backend = installed_backend.load()) {
        backend->FocusControl(id);
    }
}

int ShowMessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                   BoxIcon icon) {
    WindowBackend* backend = installed_backend.load();
    return backend != nullptr ? backend->ShowMessageBox(owner, text, caption, icon) : 0;
}
