#pragma once
// Control ids as the widget property "controlId", so handlers and tests find
// a dialog's controls by the ids the dialogs are known by.
#include <QList>
#include <QVariant>
#include <QWidget>

#include "mainwindow/ui/window_message.h"

// Posted by a connection-test page to its notify window: wParam 0 before a test, 1 after it.
constexpr uint32_t WM_ENABLE_BUTTONS = kAppMessageBase + 110;

template <class T>
T* SetControlId(T* widget, int id) {
    widget->setProperty("controlId", id);
    return widget;
}

// The first descendant of root with that id and type; null when there is none.
template <class T>
T* FindControl(const QWidget* root, int id) {
    for (T* child : root->findChildren<T*>()) {
        if (child->property("controlId").toInt() == id) return child;
    }
    return nullptr;
}
