/* The escape kit's LibreOffice for the kept renderer: a libsofficeapp.so whose
 * "save as PDF" runs the kit's probe inside the rendering process, where a
 * LibreOffice taken over by its file would run its code. */
#include <LibreOfficeKit/LibreOfficeKit.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace {
char g_probe[4096];
char g_presentation[4096];

int saveAs(LibreOfficeKitDocument*, const char* url, const char*, const char*)
{
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/usr/bin/python3", "python3", g_probe, "--lok", g_presentation, url, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

LibreOfficeKitDocumentClass g_documentClass;
LibreOfficeKitDocument g_document = {&g_documentClass};
LibreOfficeKitClass g_officeClass;
LibreOfficeKit g_office = {&g_officeClass};
} // namespace

extern "C" __attribute__((visibility("default"))) LibreOfficeKit* libreofficekit_hook_2(const char* installPath,
                                                                                        const char* profile)
{
    snprintf(g_probe, sizeof g_probe, "%s/probe.py", installPath);
    // The probe learns its profile as LibreOffice would.
    setenv("KIT_PROFILE", profile ? profile : "", 1);
    g_documentClass.nSize = sizeof g_documentClass;
    g_documentClass.destroy = [](LibreOfficeKitDocument*) {};
    g_documentClass.saveAs = saveAs;
    // LibreOfficeKit's number for a presentation.
    g_documentClass.getDocumentType = [](LibreOfficeKitDocument*) { return 2; };
    g_officeClass.nSize = sizeof g_officeClass;
    g_officeClass.destroy = [](LibreOfficeKit*) {};
    g_officeClass.documentLoadWithOptions = [](LibreOfficeKit*, const char* url, const char*) {
        snprintf(g_presentation, sizeof g_presentation, "%s", url);
        return &g_document;
    };
    g_officeClass.getError = [](LibreOfficeKit*) { return strdup(""); };
    g_officeClass.freeError = [](char* text) { free(text); };
    return &g_office;
}
