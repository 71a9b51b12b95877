// Types for the part of JUCE's front-end library (juce_gui_extra/native/javascript)
// that the page uses. The library itself is bundled from the JUCE tree.
declare module 'juce-framework-frontend' {
  /** A function that asks the plug-in's native function `name` and resolves to its result. */
  export function getNativeFunction(name: string): (...args: unknown[]) => Promise<unknown>;
}
