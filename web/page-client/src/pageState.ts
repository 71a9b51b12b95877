// The page's own state, kept by the plug-in in the host's project.
//
// The plug-in holds one text for the page and saves it with the project. The
// native function "getPageState" answers with it and "setPageState" replaces
// it; the plug-in then tells the host the project changed. When the host loads
// a project (or undoes, or picks a preset) while the page is open, the event
// "pageStateLoaded" carries the new text. The page's own sets bring no event.
//
// The plug-in refuses a value that is not a string, is longer than
// MAX_PAGE_STATE_BYTES in UTF-8, or is not valid text. Text with a lone
// surrogate or a NUL character never reaches it at all (the framework's JSON
// reader drops the whole call, and the promise would never settle), so this
// client refuses those itself, before sending.

import type { FrontendLibrary } from './bridge.js';
import { describeValue, type PluginWindow } from './pluginWindow.js';

/** The most the plug-in keeps: 1 MiB of UTF-8. */
export const MAX_PAGE_STATE_BYTES = 1024 * 1024;

export const GET_PAGE_STATE = 'getPageState';
export const SET_PAGE_STATE = 'setPageState';
export const PAGE_STATE_LOADED = 'pageStateLoaded';

export type PageStateErrorReason =
  /** No plug-in, or one without the page-state functions, or it did not answer in time. */
  | 'unavailable'
  | 'not-a-string'
  | 'too-large'
  /** A lone surrogate or a NUL character. */
  | 'invalid-text'
  /** The plug-in refused for a reason this client did not foresee. */
  | 'refused'
  /** The stored text is not JSON, or the value cannot be written as JSON. */
  | 'not-json'
  /** The plug-in answered with something that is not an answer. */
  | 'bad-answer';

export class PageStateError extends Error {
  readonly reason: PageStateErrorReason;

  constructor(reason: PageStateErrorReason, message: string) {
    super(message);
    this.name = 'PageStateError';
    this.reason = reason;
  }
}

export type PageStateListener = (text: string) => void;
/** The loaded state read as JSON; null when the host loaded an empty one. */
export type PageStateJsonListener<T> = (value: T | null) => void;

export interface PageStateClient {
  /** The stored text ('' when the page never stored any). */
  getPageState(): Promise<string>;
  /** Replaces the stored text; rejects with a PageStateError saying why it was refused. */
  setPageState(text: string): Promise<void>;
  /** The stored text read as JSON; null when nothing is stored. */
  getPageStateJson<T = unknown>(): Promise<T | null>;
  /** Stores `value` as JSON text. */
  setPageStateJson(value: unknown): Promise<void>;
  /** Calls `listener` with the new text whenever the host loads a state; returns a function that stops the calls. */
  onPageStateLoaded(listener: PageStateListener): () => void;
  /**
   * onPageStateLoaded read as JSON, the partner of getPageStateJson. A loaded
   * text that is not JSON does not reach `listener`; `onNotJson` hears of it.
   */
  onPageStateLoadedJson<T = unknown>(
    listener: PageStateJsonListener<T>,
    onNotJson?: (error: PageStateError, text: string) => void,
  ): () => void;
}

/** The window as the client sees it; a plain object stands in for it in tests. */
export type PageStateWindow = PluginWindow;

export interface PageStateOptions {
  win?: PageStateWindow;
  /** Loads JUCE's front-end library; only called when `window.__JUCE__` exists. */
  loadFrontend?: () => Promise<FrontendLibrary>;
  /** How long a call may take before it counts as unanswered (a hidden view drops answers). */
  timeoutMs?: number;
}

const DEFAULT_TIMEOUT_MS = 5000;

/**
 * Why `value` cannot be stored, or null when it can: the checks the plug-in
 * makes, plus the text the framework cannot carry to it.
 */
export function pageStateProblem(value: unknown): PageStateError | null {
  if (typeof value !== 'string') {
    return new PageStateError('not-a-string', `the page state must be a string, not ${describeValue(value)}`);
  }
  let bytes = 0;
  for (let i = 0; i < value.length; i++) {
    const unit = value.charCodeAt(i);
    if (unit === 0) return new PageStateError('invalid-text', 'the page state is not valid text: it holds a NUL character');
    if (unit >= 0xd800 && unit <= 0xdbff) {
      const next = value.charCodeAt(i + 1);
      if (!(next >= 0xdc00 && next <= 0xdfff)) return loneSurrogate(i);
      bytes += 4;
      i++;
    } else if (unit >= 0xdc00 && unit <= 0xdfff) {
      return loneSurrogate(i);
    } else {
      bytes += unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
    }
  }
  if (bytes > MAX_PAGE_STATE_BYTES) {
    return new PageStateError(
      'too-large',
      `the page state is ${bytes} bytes in UTF-8; the limit is ${MAX_PAGE_STATE_BYTES}`,
    );
  }
  return null;
}

function loneSurrogate(index: number): PageStateError {
  return new PageStateError('invalid-text', `the page state is not valid text: a lone surrogate at ${index}`);
}

/** The reason behind a refusal the plug-in sent, from its wording. */
function reasonOf(error: string): PageStateErrorReason {
  if (error.includes('must be a string')) return 'not-a-string';
  if (error.includes('the limit is')) return 'too-large';
  if (error.includes('not valid text')) return 'invalid-text';
  return 'refused';
}

export function createPageStateClient(options: PageStateOptions = {}): PageStateClient {
  const win: PageStateWindow = options.win ?? (window as unknown as PageStateWindow);
  const loadFrontend =
    options.loadFrontend ?? (() => import('juce-framework-frontend') as Promise<FrontendLibrary>);
  const timeoutMs = options.timeoutMs ?? DEFAULT_TIMEOUT_MS;
  const listeners = new Set<PageStateListener>();
  let library: Promise<FrontendLibrary> | undefined;
  let listening = false;

  function offered(name: string): boolean {
    const names = win.__JUCE__?.initialisationData?.__juce__functions;
    return Array.isArray(names) && names.includes(name);
  }

  async function invoke(name: string, args: unknown[]): Promise<unknown> {
    if (typeof win.__JUCE__ !== 'object' || win.__JUCE__ === null) {
      throw new PageStateError('unavailable', "there is no plug-in to keep the page state: the page is not inside Quillbeat's editor");
    }
    if (!offered(name)) throw new PageStateError('unavailable', `the plug-in does not offer ${name}`);
    library ??= loadFrontend();
    let timer: ReturnType<typeof setTimeout> | undefined;
    try {
      const lib = await library;
      return await Promise.race([
        lib.getNativeFunction(name)(...args),
        new Promise<never>((_, reject) => {
          timer = setTimeout(() => reject(new PageStateError('unavailable', `${name} did not answer`)), timeoutMs);
        }),
      ]);
    } catch (e) {
      if (e instanceof PageStateError) throw e;
      library = undefined;
      throw new PageStateError('unavailable', `JUCE's front-end library did not load: ${String(e)}`);
    } finally {
      clearTimeout(timer);
    }
  }

  async function getPageState(): Promise<string> {
    const answer = await invoke(GET_PAGE_STATE, []);
    if (typeof answer !== 'string') throw new PageStateError('bad-answer', `${GET_PAGE_STATE} answered ${describeValue(answer)}`);
    return answer;
  }

  async function setPageState(text: string): Promise<void> {
    const problem = pageStateProblem(text);
    if (problem !== null) throw problem;
    const answer = await invoke(SET_PAGE_STATE, [text]);
    if (typeof answer !== 'object' || answer === null || typeof (answer as { ok?: unknown }).ok !== 'boolean') {
      throw new PageStateError('bad-answer', `${SET_PAGE_STATE} answered ${describeValue(answer)}`);
    }
    const { ok, error } = answer as { ok: boolean; error?: unknown };
    if (!ok) {
      const why = typeof error === 'string' ? error : 'refused without a reason';
      throw new PageStateError(reasonOf(why), why);
    }
  }

  // One backend listener for the page's life: the library's removeEventListener
  // cannot take one back, so subscriptions come and go on this side.
  function listen(): void {
    const backend = win.__JUCE__?.backend;
    if (listening || backend === undefined || typeof backend.addEventListener !== 'function') return;
    backend.addEventListener(PAGE_STATE_LOADED, (payload) => {
      if (typeof payload !== 'string') return;
      for (const listener of [...listeners]) listener(payload);
    });
    listening = true;
  }

  function onPageStateLoaded(listener: PageStateListener): () => void {
    listen();
    listeners.add(listener);
    return () => {
      listeners.delete(listener);
    };
  }

  return {
    getPageState,
    setPageState,
    async getPageStateJson<T = unknown>(): Promise<T | null> {
      return readJson<T>(await getPageState(), 'stored');
    },
    async setPageStateJson(value: unknown): Promise<void> {
      let text: string | undefined;
      try {
        text = JSON.stringify(value);
      } catch (e) {
        throw new PageStateError('not-json', `the value cannot be written as JSON: ${String(e)}`);
      }
      if (text === undefined) throw new PageStateError('not-json', `${describeValue(value)} cannot be written as JSON`);
      await setPageState(text);
    },
    onPageStateLoaded,
    onPageStateLoadedJson<T = unknown>(
      listener: PageStateJsonListener<T>,
      onNotJson?: (error: PageStateError, text: string) => void,
    ): () => void {
      return onPageStateLoaded((text) => {
        let value: T | null;
        try {
          value = readJson<T>(text, 'loaded');
        } catch (e) {
          if (e instanceof PageStateError) onNotJson?.(e, text);
          return;
        }
        listener(value);
      });
    },
  };
}

/** `text` read as JSON, null when empty; a PageStateError('not-json') otherwise. */
function readJson<T>(text: string, which: 'stored' | 'loaded'): T | null {
  if (text === '') return null;
  try {
    return JSON.parse(text) as T;
  } catch {
    throw new PageStateError('not-json', `the ${which} page state is not JSON`);
  }
}

let pageClient: PageStateClient | undefined;

/** The page's client, created on first use and kept for the page's life. */
export function pageStateClient(): PageStateClient {
  pageClient ??= createPageStateClient();
  return pageClient;
}

export const getPageState = (): Promise<string> => pageStateClient().getPageState();
export const setPageState = (text: string): Promise<void> => pageStateClient().setPageState(text);
export const getPageStateJson = <T = unknown>(): Promise<T | null> => pageStateClient().getPageStateJson<T>();
export const setPageStateJson = (value: unknown): Promise<void> => pageStateClient().setPageStateJson(value);
export const onPageStateLoaded = (listener: PageStateListener): (() => void) =>
  pageStateClient().onPageStateLoaded(listener);
export const onPageStateLoadedJson = <T = unknown>(
  listener: PageStateJsonListener<T>,
  onNotJson?: (error: PageStateError, text: string) => void,
): (() => void) => pageStateClient().onPageStateLoadedJson<T>(listener, onNotJson);
