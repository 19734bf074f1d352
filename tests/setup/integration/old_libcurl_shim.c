/* Preloaded into a packed setup, makes the system's libcurl pass for an
   older release: curl_version_info reports that release, and
   curl_easy_setopt answers every option that release did not have yet with
   CURLE_UNKNOWN_OPTION, as it would. Everything else is the real libcurl.
   The release comes from IMITATED_LIBCURL ("7.81.0"); only the releases in
   kReleases can be imitated. */
#define _GNU_SOURCE
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>
#include <dlfcn.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* libcurl numbers the options of each type in the order they were added,
   so a release knows exactly the options up to its last one. */
struct Release {
    const char* name;
    unsigned version;  /* as curl_version_info's version_num */
    unsigned lastOption; /* option number less its type's base */
};

static const struct Release kReleases[] = {
    {"7.60.0", 0x073C00, 275}, /* CURLOPT_DNS_SHUFFLE_ADDRESSES */
    {"7.61.0", 0x073D00, 278}, /* CURLOPT_DISALLOW_USERNAME_IN_URL */
    {"7.81.0", 0x075100, 315}, /* CURLOPT_MIME_OPTIONS */
};

static const struct Release* imitated(void) {
    const char* name = getenv("IMITATED_LIBCURL");
    for (size_t i = 0; name != NULL && i < sizeof kReleases / sizeof kReleases[0]; ++i) {
        if (strcmp(name, kReleases[i].name) == 0) return &kReleases[i];
    }
    fprintf(stderr, "old_libcurl_shim: cannot imitate libcurl '%s'\n", name ? name : "");
    abort();
}

static void* real(const char* function) {
    void* found = dlsym(RTLD_NEXT, function);
    if (found == NULL) {
        fprintf(stderr, "old_libcurl_shim: no libcurl below to forward %s to\n", function);
        abort();
    }
    return found;
}

curl_version_info_data* curl_version_info(CURLversion age) {
    static curl_version_info_data data;
    curl_version_info_data* (*forward)(CURLversion) = real("curl_version_info");
    const struct Release* release = imitated();
    data = *forward(age);
    data.version = release->name;
    data.version_num = release->version;
    return &data;
}

CURLcode curl_easy_setopt(CURL* handle, CURLoption option, ...) {
    CURLcode (*forward)(CURL*, CURLoption, ...) = real("curl_easy_setopt");
    if (option % 10000 > imitated()->lastOption) return CURLE_UNKNOWN_OPTION;
    /* The argument's type follows from the option's type base. */
    va_list args;
    va_start(args, option);
    CURLcode code;
    if (option < CURLOPTTYPE_OBJECTPOINT) {
        code = forward(handle, option, va_arg(args, long));
    } else if (option >= CURLOPTTYPE_OFF_T && option < CURLOPTTYPE_BLOB) {
        code = forward(handle, option, va_arg(args, curl_off_t));
    } else if (option >= CURLOPTTYPE_FUNCTIONPOINT && option < CURLOPTTYPE_OFF_T) {
        code = forward(handle, option, va_arg(args, void (*)(void)));
    } else {
        code = forward(handle, option, va_arg(args, void*));
    }
    va_end(args);
    return code;
}
