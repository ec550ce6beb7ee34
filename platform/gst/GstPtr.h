#pragma once

#include <glib.h>
#include <gst/gst.h>

#include <memory>
#include <utility>

namespace camwarden::capgst {

// Owning handles for GLib/GStreamer references. Each releases its reference
// the one way the library wants it released.
struct GstObjectUnref {
    void operator()(gpointer p) const { gst_object_unref(p); }
};
struct GstCapsUnref {
    void operator()(GstCaps* p) const { gst_caps_unref(p); }
};
struct GstMessageUnref {
    void operator()(GstMessage* p) const { gst_message_unref(p); }
};
struct GstBufferUnref {
    void operator()(GstBuffer* p) const { gst_buffer_unref(p); }
};
struct GstMiniObjectUnref {
    void operator()(gpointer p) const { gst_mini_object_unref(GST_MINI_OBJECT_CAST(p)); }
};
struct GstStructureFree {
    void operator()(GstStructure* p) const { gst_structure_free(p); }
};
struct GErrorFree {
    void operator()(GError* p) const { g_error_free(p); }
};
struct GFree {
    void operator()(gpointer p) const { g_free(p); }
};
struct GstIteratorFree {
    void operator()(GstIterator* p) const { gst_iterator_free(p); }
};

template <typename T>
using GstObjectPtr = std::unique_ptr<T, GstObjectUnref>;
using GstElementPtr = GstObjectPtr<GstElement>;
using GstBusPtr = GstObjectPtr<GstBus>;
using GstPadPtr = GstObjectPtr<GstPad>;
using GstCapsPtr = std::unique_ptr<GstCaps, GstCapsUnref>;
using GstMessagePtr = std::unique_ptr<GstMessage, GstMessageUnref>;
using GstBufferPtr = std::unique_ptr<GstBuffer, GstBufferUnref>;
using GstStructurePtr = std::unique_ptr<GstStructure, GstStructureFree>;
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;
using GCharPtr = std::unique_ptr<gchar, GFree>;
using GstIteratorPtr = std::unique_ptr<GstIterator, GstIteratorFree>;

// Takes a floating element and owns it for good: elements made with
// gst_element_factory_make are floating until something sinks them.
inline GstElementPtr SinkElement(GstElement* e) {
    return GstElementPtr(e ? GST_ELEMENT(gst_object_ref_sink(e)) : nullptr);
}

// A new owning handle to an object someone else already owns.
template <typename T>
GstObjectPtr<T> RefObject(T* p) {
    return GstObjectPtr<T>(p ? static_cast<T*>(gst_object_ref(p)) : nullptr);
}

inline GstCapsPtr RefCaps(GstCaps* c) {
    return GstCapsPtr(c ? gst_caps_ref(c) : nullptr);
}

}  // namespace camwarden::capgst
