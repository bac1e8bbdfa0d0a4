// Holds one virtual pointer and one virtual keyboard on the compositor's
// seat for as long as it runs. Headless sway has no input devices, so its
// seat has no pointer and "swaymsg seat - cursor ..." moves a cursor no
// client hears; with this pointer those commands reach the surface under
// the cursor, XWayland's included. Key presses from wtype come through a
// keyboard that exists only while wtype runs, and a client that binds the
// seat's keyboard only once it appears (XWayland) can miss the first keys;
// with a keyboard always there it never has to.
//
// The protocols' interface tables are written out here (the few lines the
// client needs), so building it takes only libwayland-client and
// libxkbcommon.
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

static const struct wl_interface pointer_interface;

static const struct wl_interface* no_types[] = {NULL, NULL, NULL, NULL, NULL};

static const struct wl_message pointer_requests[] = {
    {"motion", "uff", no_types},
    {"motion_absolute", "uuuuu", no_types},
    {"button", "uuu", no_types},
    {"axis", "uuf", no_types},
    {"frame", "", no_types},
    {"axis_source", "u", no_types},
    {"axis_stop", "uu", no_types},
    {"axis_discrete", "uufi", no_types},
    {"destroy", "", no_types},
};

static const struct wl_interface pointer_interface = {
    "zwlr_virtual_pointer_v1", 1, 9, pointer_requests, 0, NULL};

static const struct wl_interface* create_types[] = {&wl_seat_interface, &pointer_interface};

static const struct wl_message manager_requests[] = {
    {"create_virtual_pointer", "?on", create_types},
};

static const struct wl_interface manager_interface = {
    "zwlr_virtual_pointer_manager_v1", 1, 1, manager_requests, 0, NULL};

static const struct wl_interface keyboard_interface;

static const struct wl_message keyboard_requests[] = {
    {"keymap", "uhu", no_types},
    {"key", "uuu", no_types},
    {"modifiers", "uuuu", no_types},
    {"destroy", "", no_types},
};

static const struct wl_interface keyboard_interface = {
    "zwp_virtual_keyboard_v1", 1, 4, keyboard_requests, 0, NULL};

static const struct wl_interface* create_keyboard_types[] = {&wl_seat_interface,
                                                             &keyboard_interface};

static const struct wl_message keyboard_manager_requests[] = {
    {"create_virtual_keyboard", "on", create_keyboard_types},
};

static const struct wl_interface keyboard_manager_interface = {
    "zwp_virtual_keyboard_manager_v1", 1, 1, keyboard_manager_requests, 0, NULL};

static struct wl_seat* seat;
static struct wl_proxy* manager;
static struct wl_proxy* keyboard_manager;

// The default layout's keymap in a file the compositor can map.
static int keymap_file(uint32_t* size)
{
    struct xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    struct xkb_keymap* keymap =
        context ? xkb_keymap_new_from_names(context, NULL, XKB_KEYMAP_COMPILE_NO_FLAGS) : NULL;
    char* text = keymap ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : NULL;
    int fd = text ? memfd_create("keymap", MFD_CLOEXEC) : -1;
    if (fd >= 0) {
        *size = (uint32_t)strlen(text) + 1;
        if (write(fd, text, *size) != (ssize_t)*size) {
            close(fd);
            fd = -1;
        }
    }
    free(text);
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    return fd;
}

static void global(void* data, struct wl_registry* registry, uint32_t name,
                   const char* interface, uint32_t version)
{
    (void)data;
    (void)version;
    if (strcmp(interface, wl_seat_interface.name) == 0 && !seat)
        seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
    else if (strcmp(interface, manager_interface.name) == 0)
        manager = wl_registry_bind(registry, name, &manager_interface, 1);
    else if (strcmp(interface, keyboard_manager_interface.name) == 0)
        keyboard_manager = wl_registry_bind(registry, name, &keyboard_manager_interface, 1);
}

static void global_remove(void* data, struct wl_registry* registry, uint32_t name)
{
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener registry_listener = {global, global_remove};

int main(void)
{
    struct wl_display* display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "wayland-seat: no compositor\n");
        return 1;
    }
    struct wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!seat || !manager || !keyboard_manager) {
        fprintf(stderr, "wayland-seat: the compositor offers no virtual pointers or keyboards\n");
        return 1;
    }
    if (!wl_proxy_marshal_constructor(manager, 0, &pointer_interface, seat, NULL)) {
        fprintf(stderr, "wayland-seat: no virtual pointer\n");
        return 1;
    }
    struct wl_proxy* keyboard =
        wl_proxy_marshal_constructor(keyboard_manager, 0, &keyboard_interface, seat, NULL);
    uint32_t size = 0;
    int keymap = keymap_file(&size);
    if (!keyboard || keymap < 0) {
        fprintf(stderr, "wayland-seat: no virtual keyboard\n");
        return 1;
    }
    wl_proxy_marshal(keyboard, 0, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, keymap, size);
    close(keymap);
    wl_display_roundtrip(display);
    // Until the compositor goes or a signal ends it.
    while (wl_display_dispatch(display) != -1) {
    }
    return 0;
}
