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

void destroyDocument(LibreOfficeKitDocument* self)
{
    (void)self;
}

int getDocumentType(LibreOfficeKitDocument* self)
{
    (void)self;
    return 2; // LibreOfficeKit's number for a presentation
}

int saveAs(LibreOfficeKitDocument* self, const char* url, const char* format, const char* options)
{
    (void)self, (void)format, (void)options;
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

LibreOfficeKitDocument* load(LibreOfficeKit* self, const char* url, const char* options)
{
    (void)self, (void)options;
    snprintf(g_presentation, sizeof g_presentation, "%s", url);
    return &g_document;
}

LibreOfficeKitDocument* loadPlain(LibreOfficeKit* self, const char* url)
{
    return load(self, url, "");
}
void destroyOffice(LibreOfficeKit* self)
{
    (void)self;
}
char* getError(LibreOfficeKit* self)
{
    (void)self;
    return strdup("");
}
void freeError(char* text)
{
    free(text);
}

LibreOfficeKitClass g_officeClass;
LibreOfficeKit g_office = {&g_officeClass};
} // namespace

extern "C" __attribute__((visibility("default"))) LibreOfficeKit* libreofficekit_hook_2(const char* installPath,
                                                                                        const char* profile)
{
    (void)profile;
    snprintf(g_probe, sizeof g_probe, "%s/probe.py", installPath);
    g_documentClass.nSize = sizeof g_documentClass;
    g_documentClass.destroy = destroyDocument;
    g_documentClass.saveAs = saveAs;
    g_documentClass.getDocumentType = getDocumentType;
    g_officeClass.nSize = sizeof g_officeClass;
    g_officeClass.destroy = destroyOffice;
    g_officeClass.documentLoad = loadPlain;
    g_officeClass.documentLoadWithOptions = load;
    g_officeClass.getError = getError;
    g_officeClass.freeError = freeError;
    return &g_office;
}

extern "C" __attribute__((visibility("default"))) LibreOfficeKit* libreofficekit_hook(const char* installPath)
{
    return libreofficekit_hook_2(installPath, nullptr);
}
