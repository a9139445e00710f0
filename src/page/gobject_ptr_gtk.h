#pragma once
// Owning pointers for the GLib objects the page code holds: each releases its
// one reference (or its memory) when it goes out of scope.

#include <glib-object.h>

#include <memory>

namespace zandrel::glib {

struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct VariantUnref {
  void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
struct ErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
struct Free {
  void operator()(gpointer memory) const { g_free(memory); }
};

template <class T>
using Object = std::unique_ptr<T, ObjectUnref>;
using Variant = std::unique_ptr<GVariant, VariantUnref>;
using Error = std::unique_ptr<GError, ErrorFree>;
using String = std::unique_ptr<char, Free>;

}  // namespace zandrel::glib
