#include "ui/Accessibility.h"

#include <wx/window.h>

#ifdef __WXGTK__
#include <gtk/gtk.h>

namespace {

// The widget that carries the control's accessible object: a multi-line text control's handle
// is the scrolled window around its text view.
AtkObject* AccessibleOf(wxWindow* window)
{
    GtkWidget* widget = window->GetHandle();
    if (widget == nullptr)
        return nullptr;
    if (GTK_IS_SCROLLED_WINDOW(widget)) {
        if (GtkWidget* child = gtk_bin_get_child(GTK_BIN(widget)))
            widget = child;
    }
    return gtk_widget_get_accessible(widget);
}

} // namespace

void SetAccessibleName(wxWindow* control, const wxString& name)
{
    if (control == nullptr)
        return;
    if (AtkObject* accessible = AccessibleOf(control))
        atk_object_set_name(accessible, name.utf8_str());
}

void LabelControl(wxWindow* control, wxWindow* label)
{
    if (control == nullptr || label == nullptr)
        return;
    SetAccessibleName(control, label->GetLabel());
    AtkObject* controlAccessible = AccessibleOf(control);
    AtkObject* labelAccessible = AccessibleOf(label);
    if (controlAccessible == nullptr || labelAccessible == nullptr)
        return;
    // Adding the same relation twice is harmless for ATK: it keeps one target per relation type.
    atk_object_add_relationship(controlAccessible, ATK_RELATION_LABELLED_BY, labelAccessible);
    atk_object_add_relationship(labelAccessible, ATK_RELATION_LABEL_FOR, controlAccessible);
}

#else

void SetAccessibleName(wxWindow* control, const wxString& name)
{
    if (control != nullptr)
        control->SetName(name);
}

void LabelControl(wxWindow* control, wxWindow* label)
{
    if (control != nullptr && label != nullptr)
        control->SetName(label->GetLabel());
}

#endif
