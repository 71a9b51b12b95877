#include "WindowScreenshot.h"

// Xlib last: its macros collide with names in the framework's headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace quillbeat::host
{

bool writeWindowScreenshot (juce::Component& window, const juce::File& pngFile)
{
    auto* peer = window.getPeer();

    if (peer == nullptr)
        return false;

    // The framework's own snapshot paints components only; the web view is
    // another process's X window, so the pixels come from the X server.
    auto* display = XOpenDisplay (nullptr);

    if (display == nullptr)
        return false;

    const auto xWindow = (::Window) reinterpret_cast<juce::pointer_sized_uint> (peer->getNativeHandle());
    XWindowAttributes attributes {};
    XGetWindowAttributes (display, xWindow, &attributes);

    auto* xImage = XGetImage (display, xWindow, 0, 0, (unsigned) attributes.width, (unsigned) attributes.height, AllPlanes, ZPixmap);
    bool written = false;

    if (xImage != nullptr)
    {
        juce::Image image (juce::Image::RGB, attributes.width, attributes.height, false);

        for (int y = 0; y < attributes.height; ++y)
            for (int x = 0; x < attributes.width; ++x)
            {
                const auto pixel = XGetPixel (xImage, x, y);
                image.setPixelAt (x, y, juce::Colour ((juce::uint8) ((pixel >> 16) & 0xff),
                                                      (juce::uint8) ((pixel >> 8) & 0xff),
                                                      (juce::uint8) (pixel & 0xff)));
            }

        XDestroyImage (xImage);

        pngFile.deleteFile();
        juce::FileOutputStream out (pngFile);
        juce::PNGImageFormat png;
        written = out.openedOk() && png.writeImageToStream (image, out);
    }

    XCloseDisplay (display);
    return written;
}

} // namespace quillbeat::host
