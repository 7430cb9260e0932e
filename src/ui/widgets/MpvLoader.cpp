// libmpv is loaded when the first video is played, not when the program
// starts: the library brings some two hundred others with it, which would add
// tens of megabytes and a large part of the start-up time to every run.
//
// The functions below stand in for the libmpv functions that the player
// plug-in calls. The first call loads the library; each function looks up its
// real counterpart once and forwards to it. Without the library, mpv_create
// answers null (the player then plays nothing) and nothing else is reached.
// A libmpv function newly used by the player needs its line here.
#include "core/common/LazyLibrary.h"

#include <mpv/client.h>
#include <mpv/render.h>

#include <string>

namespace {
void *MpvLibrary() {
  static void *const handle =
      sonabox::OpenLibrary(("libmpv.so." + std::to_string(MPV_CLIENT_API_VERSION >> 16)).c_str());
  return handle;
}
} // namespace

SONABOX_FORWARD(MpvLibrary, mpv_handle *, mpv_create, (void), (), nullptr)
SONABOX_FORWARD(MpvLibrary, int, mpv_initialize, (mpv_handle * ctx), (ctx), MPV_ERROR_UNINITIALIZED)
SONABOX_FORWARD_VOID(MpvLibrary, mpv_terminate_destroy, (mpv_handle * ctx), (ctx))
SONABOX_FORWARD_VOID(MpvLibrary, mpv_free, (void *data), (data))
SONABOX_FORWARD(MpvLibrary, int, mpv_set_option_string,
                (mpv_handle * ctx, const char *name, const char *data), (ctx, name, data),
                MPV_ERROR_UNINITIALIZED)
SONABOX_FORWARD(MpvLibrary, int, mpv_command, (mpv_handle * ctx, const char **args), (ctx, args),
                MPV_ERROR_UNINITIALIZED)
SONABOX_FORWARD(MpvLibrary, int, mpv_get_property,
                (mpv_handle * ctx, const char *name, mpv_format format, void *data),
                (ctx, name, format, data), MPV_ERROR_UNINITIALIZED)
SONABOX_FORWARD(MpvLibrary, char *, mpv_get_property_string, (mpv_handle * ctx, const char *name),
                (ctx, name), nullptr)
SONABOX_FORWARD(MpvLibrary, mpv_event *, mpv_wait_event, (mpv_handle * ctx, double timeout),
                (ctx, timeout), nullptr)
SONABOX_FORWARD_VOID(MpvLibrary, mpv_set_wakeup_callback,
                     (mpv_handle * ctx, void (*cb)(void *d), void *d), (ctx, cb, d))
SONABOX_FORWARD(MpvLibrary, int, mpv_render_context_create,
                (mpv_render_context * *res, mpv_handle *mpv, mpv_render_param *params),
                (res, mpv, params), MPV_ERROR_UNINITIALIZED)
SONABOX_FORWARD_VOID(MpvLibrary, mpv_render_context_set_update_callback,
                     (mpv_render_context * ctx, mpv_render_update_fn callback, void *callback_ctx),
                     (ctx, callback, callback_ctx))
SONABOX_FORWARD(MpvLibrary, int, mpv_render_context_render,
                (mpv_render_context * ctx, mpv_render_param *params), (ctx, params),
                MPV_ERROR_UNINITIALIZED)
SONABOX_FORWARD_VOID(MpvLibrary, mpv_render_context_free, (mpv_render_context * ctx), (ctx))
SONABOX_FORWARD(MpvLibrary, int, mpv_set_property_string,
                (mpv_handle * ctx, const char *name, const char *data), (ctx, name, data),
                MPV_ERROR_UNINITIALIZED)
SONABOX_FORWARD(MpvLibrary, int, mpv_command_node_async,
                (mpv_handle * ctx, uint64_t reply, mpv_node *args), (ctx, reply, args),
                MPV_ERROR_UNINITIALIZED)
SONABOX_FORWARD(MpvLibrary, int, mpv_set_property_async,
                (mpv_handle * ctx, uint64_t reply, const char *name, mpv_format format, void *data),
                (ctx, reply, name, format, data), MPV_ERROR_UNINITIALIZED)
SONABOX_FORWARD(MpvLibrary, int, mpv_command_node,
                (mpv_handle * ctx, mpv_node *args, mpv_node *result), (ctx, args, result),
                MPV_ERROR_UNINITIALIZED)
SONABOX_FORWARD(MpvLibrary, int, mpv_command_async,
                (mpv_handle * ctx, uint64_t reply, const char **args), (ctx, reply, args),
                MPV_ERROR_UNINITIALIZED)
SONABOX_FORWARD(MpvLibrary, int, mpv_observe_property,
                (mpv_handle * mpv, uint64_t reply, const char *name, mpv_format format),
                (mpv, reply, name, format), MPV_ERROR_UNINITIALIZED)
