#include "platform/title_font.h"

#include <QFontDatabase>

namespace fotivela {

namespace {

struct Face {
    const char* family;
    QFont::Weight weight;
};

constexpr Face systemFace{"DejaVu Sans", QFont::DemiBold};

Face faceFor(TitleFontDesign design)
{
    switch (design) {
    case TitleFontDesign::default_:
    case TitleFontDesign::rounded:
        return systemFace;
    case TitleFontDesign::monospaced:
        return {"DejaVu Sans Mono", QFont::DemiBold};
    case TitleFontDesign::serif: // Times New Roman Bold
        return {"Nimbus Roman", QFont::Bold};
    case TitleFontDesign::avenirNext: // Avenir Next Demi Bold
        return {"URW Gothic", QFont::DemiBold};
    case TitleFontDesign::futura: // Futura Medium
        return {"URW Gothic", QFont::Normal};
    case TitleFontDesign::helveticaNeue: // Helvetica Neue Medium
        return {"Nimbus Sans", QFont::Medium};
    case TitleFontDesign::georgia: // Georgia Bold
        return {"DejaVu Serif", QFont::Bold};
    case TitleFontDesign::baskerville: // Baskerville SemiBold
        return {"P052", QFont::Bold};
    case TitleFontDesign::didot: // Didot Bold
        return {"C059", QFont::Bold};
    case TitleFontDesign::copperplate:
        return {"URW Bookman", QFont::Light};
    case TitleFontDesign::markerFelt: // Marker Felt Wide
        return {"Comic Neue", QFont::Bold};
    }
    return systemFace;
}

QFont makeFont(const Face& face, double pointSize)
{
    QFont font{QString::fromLatin1(face.family)};
    font.setWeight(face.weight);
    font.setPointSizeF(pointSize > 0 ? pointSize : 1.0);
    font.setStyleHint(QFont::SansSerif, QFont::PreferAntialias);
    return font;
}

} // namespace

QFont nsFont(TitleFontDesign design, double pointSize)
{
    const Face face = faceFor(design);
    if (!QFontDatabase::hasFamily(QString::fromLatin1(face.family)))
        return makeFont(systemFace, pointSize);
    return makeFont(face, pointSize);
}

} // namespace fotivela
