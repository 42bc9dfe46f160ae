/* Message catalogues switched off, for Ardour with a sanitizer runtime loaded through LD_PRELOAD
   (scripts/ardour-crash-hunt.sh). With GCC's or clang's ASan or TSan runtime preloaded, glibc's
   gettext lock is already unbalanced when Ardour's main() starts, and Ardour hangs in its first
   bindtextdomain(). These stand-ins take no lock and return the untranslated text. */

char* gettext (const char* id)
{
    return (char*) id;
}

char* dgettext (const char* domain, const char* id)
{
    (void) domain;
    return (char*) id;
}

char* dcgettext (const char* domain, const char* id, int category)
{
    (void) domain;
    (void) category;
    return (char*) id;
}

char* ngettext (const char* id, const char* plural, unsigned long n)
{
    return (char*) (n == 1 ? id : plural);
}

char* dngettext (const char* domain, const char* id, const char* plural, unsigned long n)
{
    (void) domain;
    return (char*) (n == 1 ? id : plural);
}

char* dcngettext (const char* domain,
                  const char* id,
                  const char* plural,
                  unsigned long n,
                  int category)
{
    (void) domain;
    (void) category;
    return (char*) (n == 1 ? id : plural);
}

char* textdomain (const char* domain)
{
    return (char*) (domain != 0 ? domain : "messages");
}

char* bindtextdomain (const char* domain, const char* dir)
{
    (void) domain;
    return (char*) (dir != 0 ? dir : "/usr/share/locale");
}

char* bind_textdomain_codeset (const char* domain, const char* codeset)
{
    (void) domain;
    return (char*) codeset;
}
