// The browser's side of XEmbed for the window tests, run as a process of its
// own: a top-level window holding a GtkSocket. It prints "socket <id>" once
// the socket can take a plug, then "plug-added" and "plug-removed" as a plug
// comes and goes, one line each on standard output, and quits when its
// standard input closes.
#include <cstdio>

#include <gtk/gtk.h>

namespace {

void say(const char* line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

void plugAdded(GtkSocket*, gpointer)
{
    say("plug-added");
}

// Keeps the socket for the next plug.
gboolean plugRemoved(GtkSocket*, gpointer)
{
    say("plug-removed");
    return TRUE;
}

gboolean inputClosed(GIOChannel*, GIOCondition, gpointer)
{
    gtk_main_quit();
    return FALSE;
}

} // namespace

int main(int argc, char** argv)
{
    if (!gtk_init_check(&argc, &argv))
        return 2;
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget* socket = gtk_socket_new();
    gtk_widget_set_size_request(socket, 200, 150);
    gtk_container_add(GTK_CONTAINER(window), socket);
    g_signal_connect(socket, "plug-added", G_CALLBACK(&plugAdded), nullptr);
    g_signal_connect(socket, "plug-removed", G_CALLBACK(&plugRemoved), nullptr);
    gtk_widget_show_all(window);

    std::printf("socket %lu\n", static_cast<unsigned long>(gtk_socket_get_id(GTK_SOCKET(socket))));
    std::fflush(stdout);

    GIOChannel* input = g_io_channel_unix_new(0);
    g_io_add_watch(input, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), &inputClosed, nullptr);
    gtk_main();
    g_io_channel_unref(input);
    gtk_widget_destroy(window);
    return 0;
}
