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
struct BytesUnref {
  void operator()(GBytes* bytes) const { g_bytes_unref(bytes); }
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
using Bytes = std::unique_ptr<GBytes, BytesUnref>;
using Error = std::unique_ptr<GError, ErrorFree>;
using String = std::unique_ptr<char, Free>;

// Takes an additional reference to an object the caller does not own.
template <class T>
Object<T> retain(T* object) {
  return Object<T>(object != nullptr ? static_cast<T*>(g_object_ref(object)) : nullptr);
}

// Owns a variant, sinking a floating one.
inline Variant adopt(GVariant* variant) {
  return Variant(variant != nullptr ? g_variant_ref_sink(variant) : nullptr);
}

}  // namespace zandrel::glib
