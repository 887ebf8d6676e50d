#pragma once
// The program's widget style: Fusion, with its check boxes and radio buttons drawn by the
// style kit. Fusion outlines an indicator in a shade darker than the window, which all but
// vanishes on the dark palette; here the outline is a tone between the window's text and
// its ground, so an unchecked box reads on the dark windows as on a light desktop's.

#include <QProxyStyle>

namespace wl {

class ProgramStyle final : public QProxyStyle {
public:
    ProgramStyle();

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
};

} // namespace wl
