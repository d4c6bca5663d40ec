// The one way the image classes take QImage's in-memory constructors: the
// arguments of any QImage constructor that builds an image from a size or
// from pixel data (two or more arguments, the first not a file name), passed
// on unchanged, after which the class does its own set-up.
#pragma once

#include <QImage>
#include <QString>

#include <concepts>

namespace image_arguments {
template <class First, class... Rest>
constexpr bool inMemory = std::constructible_from<QImage, First, Rest...> && !std::convertible_to<First, QString>;
}

template <class... Arguments>
concept InMemoryImageArguments = (sizeof...(Arguments) >= 2) && (image_arguments::inMemory<Arguments...>);
