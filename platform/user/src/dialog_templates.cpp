// The program module's templates (read once from the embedded kelvra.rc), the dialog font and
// dialog units.
#include <kelvra/user/templates.h>
#include <kelvra/user/dialog_units.h>
#include <kelvra/kernel/resources.h>

#include <QFont>
#include <QFontMetrics>
#include <QStringList>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace kelvra::platform {

namespace {

constexpr const char* kModuleScript = "kelvra.rc";
constexpr int kPointsPerInch = 72;
constexpr int kLogicalDpi = 96;  // Windows' "small fonts" resolution that templates assume
// A template without a FONT statement uses the system font; 10 pt gives its 8 x 16 cell.
constexpr int kSystemFontPoints = 10;

// Candidates for the templates' faces ("Helv", "MS Sans Serif", ...), first one installed
// wins. At 11 px DejaVu Sans Condensed measures 6 x 13 base units, the very units of the
// Windows 8 pt dialog font at 96 dpi, so template layouts keep their proportions. Its small
// letters run wider than those of the bitmap font the templates were drawn with ("Overlay
// mode is" would wrap in its 52-unit label), so it is drawn at 97 % of its width (stretch 84 of
// its 87): the 6 x 13 units stay, every label fits its width, and the quick reference's runs
// of blanks still push each entry onto a line of its own.
const QStringList kDialogFamilies = {"DejaVu Sans Condensed", "Liberation Sans", "DejaVu Sans",
                                     "sans-serif"};
constexpr int kDialogStretch = 84;
// Fixed-pitch faces a template may name keep a fixed pitch.
const QStringList kFixedFamilies = {"DejaVu Sans Mono", "Liberation Mono", "monospace"};
const char* const kFixedFaces[] = {"COURIER", "COURIER NEW", "FIXEDSYS", "TERMINAL"};

struct ModuleScript {
    bool loaded = false;
    bool ok = false;
    ResourceScript script;
};

ModuleScript& moduleScript()
{
    static ModuleScript m;
    if (m.loaded)
        return m;
    m.loaded = true;
    const ResourceFile* file = findResourceFile(kModuleScript);
    if (!file) {
        std::fprintf(stderr, "dialog: the module has no %s\n", kModuleScript);
        return m;
    }
    IncludeResolver resolver = [](const std::string& name) -> std::optional<std::string> {
        if (const ResourceFile* f = findResourceFile(name))
            return std::string(reinterpret_cast<const char*>(f->data), f->size);
        return std::nullopt;
    };
    std::string error;
    std::string text(reinterpret_cast<const char*>(file->data), file->size);
    m.ok = parseResourceScript(text, resolver, m.script, error, kModuleScript);
    if (!m.ok)
        std::fprintf(stderr, "dialog: %s\n", error.c_str());
    return m;
}

std::string upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// "#123" names resource 123, as Windows' FindResource reads it.
bool numericName(const std::string& name, int& id)
{
    if (name.size() < 2 || name[0] != '#')
        return false;
    char* end = nullptr;
    long v = std::strtol(name.c_str() + 1, &end, 10);
    if (*end != '\0')
        return false;
    id = static_cast<int>(v);
    return true;
}

}  // namespace

const DialogTemplate* findDialogTemplate(LPCSTR name)
{
    ModuleScript& m = moduleScript();
    if (!m.ok || name == nullptr)
        return nullptr;
    int id = -1;
    std::string wanted;
    if (IS_INTRESOURCE(name))
        id = static_cast<int>(reinterpret_cast<uintptr_t>(name));
    else if (!numericName(name, id))
        wanted = upper(name);
    for (const DialogTemplate& d : m.script.dialogs)
        if ((id >= 0 && d.id == id) || (id < 0 && d.name == wanted))
            return &d;
    return nullptr;
}

const IconResource* findIconResource(const std::string& nameOrId)
{
    ModuleScript& m = moduleScript();
    if (!m.ok)
        return nullptr;
    int id = -1;
    bool numeric = numericName(nameOrId, id);
    for (const IconResource& icon : m.script.icons)
        if ((numeric && icon.id == id) || (!numeric && icon.name == upper(nameOrId)))
            return &icon;
    return nullptr;
}

int mulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;  // as Windows answers a division by zero
    long long product = static_cast<long long>(a) * b;
    bool negative = (product < 0) != (c < 0);
    long long num = product < 0 ? -product : product;
    long long den = c < 0 ? -static_cast<long long>(c) : c;
    long long q = (num + den / 2) / den;
    return static_cast<int>(negative ? -q : q);
}

QFont dialogFont(const std::string& face, int pointSize)
{
    // Every face a template names maps onto one installed sans-serif family; the size follows
    // Windows: a height of MulDiv(points, 96, 72) pixels for the em.
    QFont font;
    bool fixed = std::any_of(std::begin(kFixedFaces), std::end(kFixedFaces),
                             [&](const char* f) { return upper(face) == f; });
    font.setFamilies(fixed ? kFixedFamilies : kDialogFamilies);
    font.setStyleHint(fixed ? QFont::Monospace : QFont::SansSerif);
    int points = pointSize > 0 ? pointSize : kSystemFontPoints;
    font.setPixelSize(mulDiv(points, kLogicalDpi, kPointsPerInch));
    font.setWeight(QFont::Normal);
    if (!fixed)
        font.setStretch(kDialogStretch);
    return font;
}

BaseUnits measureBaseUnits(const QFont& font)
{
    // Windows' GdiGetCharDimensions: the average of the 52 letters, rounded.
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    QFontMetrics metrics(font);
    BaseUnits units;
    units.x = (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
    units.y = metrics.height();
    return units;
}

QRect dialogUnitsToPixels(const BaseUnits& units, int x, int y, int cx, int cy)
{
    // As the dialog manager creates controls: position and size are each scaled on their own.
    return QRect(mulDiv(x, units.x, 4), mulDiv(y, units.y, 8), mulDiv(cx, units.x, 4),
                 mulDiv(cy, units.y, 8));
}

}  // namespace kelvra::platform
