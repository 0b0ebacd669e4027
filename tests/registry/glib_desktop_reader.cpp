#include "glib_desktop_reader.h"

#ifdef ZEMBROLA_TEST_GLIB
#include <gio/gdesktopappinfo.h>
#include <glib.h>
#endif

namespace zb::test {

#ifdef ZEMBROLA_TEST_GLIB

namespace {

// Field codes as a launcher expands them for one local file.
std::string ExpandFieldCodes(const std::string& arg, const std::string& document) {
    if (arg == "%f")
        return document;
    std::string out;
    for (size_t i = 0; i < arg.size(); ++i) {
        if (arg[i] == '%' && i + 1 < arg.size() && arg[i + 1] == '%') {
            out += '%';
            ++i;
        } else {
            out += arg[i];
        }
    }
    return out;
}

std::string TakeError(GError*& error) {
    std::string text = error ? error->message : "unknown error";
    g_clear_error(&error);
    return text;
}

}  // namespace

DesktopEntryReading ReadDesktopEntry(const std::string& path, const std::string& document) {
    DesktopEntryReading r;
    r.available = true;
    GError* error = nullptr;
    GKeyFile* file = g_key_file_new();
    if (!g_key_file_load_from_file(file, path.c_str(), G_KEY_FILE_NONE, &error)) {
        r.error = TakeError(error);
        g_key_file_free(file);
        return r;
    }
    gchar* exec = g_key_file_get_string(file, "Desktop Entry", "Exec", &error);
    gchar* tryExec = g_key_file_get_string(file, "Desktop Entry", "TryExec", nullptr);
    g_key_file_free(file);
    if (!exec) {
        r.error = TakeError(error);
        g_free(tryExec);
        return r;
    }
    r.exec = exec;
    r.tryExec = tryExec ? tryExec : "";
    g_free(tryExec);

    gint argc = 0;
    gchar** argv = nullptr;
    if (!g_shell_parse_argv(exec, &argc, &argv, &error)) {
        r.error = TakeError(error);
        g_free(exec);
        return r;
    }
    g_free(exec);
    for (gint i = 0; i < argc; ++i) r.argv.push_back(ExpandFieldCodes(argv[i], document));
    g_strfreev(argv);

    // The application info object checks TryExec and the entry's type as a menu would.
    GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(path.c_str());
    if (info) {
        const char* const* types = g_app_info_get_supported_types(G_APP_INFO(info));
        for (; types && *types; ++types) r.mimeTypes.emplace_back(*types);
        g_object_unref(info);
    }
    r.loaded = true;
    return r;
}

#else

DesktopEntryReading ReadDesktopEntry(const std::string&, const std::string&) {
    return {};
}

#endif

}  // namespace zb::test
