// Holds one virtual pointer on the compositor's seat for as long as it runs.
// Headless sway has no input devices, so its seat has no pointer and
// "swaymsg seat - cursor ..." moves a cursor no client hears; with this
// device the seat gets the pointer capability and those commands reach
// the surface under the cursor, XWayland's included.
//
// The protocol's interface tables are written out here (the few lines
// the client needs), so building it takes only libwayland-client.
#include <stdio.h>
#include <string.h>
#include <wayland-client.h>

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

static struct wl_seat* seat;
static struct wl_proxy* manager;

static void global(void* data, struct wl_registry* registry, uint32_t name,
                   const char* interface, uint32_t version)
{
    (void)data;
    (void)version;
    if (strcmp(interface, wl_seat_interface.name) == 0 && !seat)
        seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
    else if (strcmp(interface, manager_interface.name) == 0)
        manager = wl_registry_bind(registry, name, &manager_interface, 1);
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
        fprintf(stderr, "wayland-pointer: no compositor\n");
        return 1;
    }
    struct wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!seat || !manager) {
        fprintf(stderr, "wayland-pointer: the compositor offers no virtual pointers\n");
        return 1;
    }
    if (!wl_proxy_marshal_constructor(manager, 0, &pointer_interface, seat, NULL)) {
        fprintf(stderr, "wayland-pointer: no virtual pointer\n");
        return 1;
    }
    wl_display_roundtrip(display);
    // Until the compositor goes or a signal ends it.
    while (wl_display_dispatch(display) != -1) {
    }
    return 0;
}
