import { afterEach, beforeEach, describe, expect, it, vi } from 'vitest';
import type { FrontendLibrary } from '../../src/bridge';
import {
  createPageStateClient,
  MAX_PAGE_STATE_BYTES,
  PageStateError,
  pageStateProblem,
  type PageStateErrorReason,
  type PageStateWindow,
} from '../../src/pageState';
import { installFakeJuce, removeFakeJuce, type FakeHost } from '../fakeJuce';

function host(): FakeHost {
  const h = window.__fakeHost;
  if (h === undefined) throw new Error('no fake host installed');
  return h;
}

async function refusal(promise: Promise<unknown>): Promise<PageStateError> {
  const error = await promise.then(
    () => null,
    (e: unknown) => e,
  );
  expect(error).toBeInstanceOf(PageStateError);
  return error as PageStateError;
}

/** A window that announces the page-state functions, and a library answering them with `answer`. */
function stubbedPlugin(answer: unknown): { win: PageStateWindow; loadFrontend: () => Promise<FrontendLibrary> } {
  return {
    win: { __JUCE__: { initialisationData: { __juce__functions: ['getPageState', 'setPageState'] } } },
    loadFrontend: () => Promise.resolve({ getNativeFunction: () => () => Promise.resolve(answer) }),
  };
}

beforeEach(() => {
  // JUCE's library binds to window.__JUCE__ when it is first imported; each
  // test's fake gets a fresh copy of it.
  vi.resetModules();
});

afterEach(() => {
  removeFakeJuce();
  vi.restoreAllMocks();
});

describe('pageStateProblem', () => {
  const repeat = (unit: string, bytesEach: number, extraBytes = 0) => unit.repeat(MAX_PAGE_STATE_BYTES / bytesEach) + 'x'.repeat(extraBytes);

  it.each<[string, unknown, PageStateErrorReason | null]>([
    ['empty text', '', null],
    ['JSON text', '{"notes":"x"}', null],
    ['non-ASCII and an emoji', 'caf\u00e9 \u20ac \u{1f3b9}', null],
    ['the limit in one-byte characters', repeat('x', 1), null],
    ['the limit in two-byte characters', repeat('\u00e9', 2), null],
    ['the limit in four-byte characters', repeat('\u{1f3b9}', 4), null],
    ['one byte over', repeat('x', 1, 1), 'too-large'],
    ['one byte over in two-byte characters', repeat('\u00e9', 2, 1), 'too-large'],
    ['a lone high surrogate', 'a\ud800b', 'invalid-text'],
    ['a lone high surrogate at the end', 'a\udbff', 'invalid-text'],
    ['a lone low surrogate', '\udc00', 'invalid-text'],
    ['surrogates in the wrong order', '\udc00\ud800', 'invalid-text'],
    ['a NUL character', 'a\u0000b', 'invalid-text'],
    ['a number', 42, 'not-a-string'],
    ['null', null, 'not-a-string'],
    ['undefined', undefined, 'not-a-string'],
    ['an object', { notes: 'x' }, 'not-a-string'],
    ['an array', ['x'], 'not-a-string'],
  ])('%s', (_, value, reason) => {
    expect(pageStateProblem(value)?.reason ?? null).toBe(reason);
  });

  it('says how large the text is in UTF-8', () => {
    expect(pageStateProblem('\u00e9'.repeat(MAX_PAGE_STATE_BYTES / 2) + 'x')?.message).toBe(
      'the page state is 1048577 bytes in UTF-8; the limit is 1048576',
    );
  });
});

describe('the page-state client with the plug-in', () => {
  it('reads, replaces and reads back the text; each set is one change for the host', async () => {
    installFakeJuce({ pageState: '' });
    const client = createPageStateClient();

    expect(await client.getPageState()).toBe('');
    await client.setPageState('caf\u00e9 \u{1f3b9}');
    expect(host().pageState).toBe('caf\u00e9 \u{1f3b9}');
    expect(host().stateChanges).toBe(1);
    expect(await client.getPageState()).toBe('caf\u00e9 \u{1f3b9}');
    expect(host().invoked).toEqual(['getPageState', 'setPageState', 'getPageState']);
  });

  it.each<[string, unknown, PageStateErrorReason]>([
    ['a lone surrogate', 'a\ud800', 'invalid-text'],
    ['a NUL character', '\u0000', 'invalid-text'],
    ['text over the limit', 'x'.repeat(MAX_PAGE_STATE_BYTES + 1), 'too-large'],
    ['a number', 7, 'not-a-string'],
  ])('refuses %s before sending it, and the state stays', async (_, value, reason) => {
    installFakeJuce({ pageState: 'kept' });
    const client = createPageStateClient();

    expect((await refusal(client.setPageState(value as string))).reason).toBe(reason);
    expect(host().invoked).toEqual([]);
    expect(host().pageState).toBe('kept');
  });

  it.each<[string, unknown, PageStateErrorReason, string]>([
    ['a limit refusal', { ok: false, error: 'the page state is 5 bytes in UTF-8; the limit is 4' }, 'too-large', 'the limit is 4'],
    ['a type refusal', { ok: false, error: 'the page state must be a string, not a number' }, 'not-a-string', 'not a number'],
    ['an unforeseen refusal', { ok: false, error: 'busy' }, 'refused', 'busy'],
    ['a refusal without a reason', { ok: false }, 'refused', 'without a reason'],
    ['an answer that is not one', 'ok', 'bad-answer', 'answered a string'],
  ])('passes on %s from the plug-in', async (_, answer, reason, message) => {
    const error = await refusal(createPageStateClient(stubbedPlugin(answer)).setPageState('text'));
    expect(error.reason).toBe(reason);
    expect(error.message).toContain(message);
  });

  it('rejects a get answered with anything but text', async () => {
    expect((await refusal(createPageStateClient(stubbedPlugin({ ok: true })).getPageState())).reason).toBe('bad-answer');
  });

  it.each<[string, () => PageStateWindow | undefined, string]>([
    ['no plug-in (a plain browser, the dev server)', () => ({}), "there is no plug-in to keep the page state: the page is not inside Quillbeat's editor"],
    ['a plug-in without the page-state functions', () => {
      installFakeJuce({});
      return undefined;
    }, 'the plug-in does not offer getPageState'],
  ])('is unavailable with %s, says so, and asks nothing', async (_, setUp, message) => {
    const win = setUp();
    const loadFrontend = vi.fn(() => new Promise<FrontendLibrary>(() => {}));
    const client = createPageStateClient({ ...(win ? { win } : {}), loadFrontend });

    const error = await refusal(client.getPageState());
    expect(error.reason).toBe('unavailable');
    expect(error.message).toBe(message);
    expect((await refusal(client.setPageState('x'))).reason).toBe('unavailable');
    expect(loadFrontend).not.toHaveBeenCalled();
  });

  it('gives up on a call the plug-in never answers (a hidden view drops answers)', async () => {
    installFakeJuce({ pageState: '', neverAnswer: true });
    const client = createPageStateClient({ timeoutMs: 50 });
    const error = await refusal(client.setPageState('x'));
    expect(error.reason).toBe('unavailable');
    expect(error.message).toBe('setPageState did not answer');
  });
});

describe('the JSON convenience', () => {
  it('stores values as JSON text and reads them back; nothing stored reads as null', async () => {
    installFakeJuce({ pageState: '' });
    const client = createPageStateClient();

    expect(await client.getPageStateJson()).toBeNull();
    await client.setPageStateJson({ notes: 'bar 9', zoom: 2 });
    expect(host().pageState).toBe('{"notes":"bar 9","zoom":2}');
    expect(await client.getPageStateJson<{ notes: string; zoom: number }>()).toEqual({ notes: 'bar 9', zoom: 2 });
  });

  it.each<[string, () => Promise<unknown>]>([
    ['stored text that is not JSON', () => createPageStateClient().getPageStateJson()],
    ['undefined', () => createPageStateClient().setPageStateJson(undefined)],
    ['a value with a cycle', () => {
      const cyclic: Record<string, unknown> = {};
      cyclic.self = cyclic;
      return createPageStateClient().setPageStateJson(cyclic);
    }],
  ])('refuses %s as not JSON', async (_, act) => {
    installFakeJuce({ pageState: 'plain notes' });
    expect((await refusal(act())).reason).toBe('not-json');
    expect(host().pageState).toBe('plain notes');
  });
});

describe('loads by the host', () => {
  it('reach every subscriber with the new text until it unsubscribes; odd payloads are ignored', async () => {
    installFakeJuce({ pageState: 'old' });
    const client = createPageStateClient();
    const first: string[] = [];
    const second: string[] = [];
    client.onPageStateLoaded((t) => first.push(t));
    const stopSecond = client.onPageStateLoaded((t) => second.push(t));

    host().loadPageState('from the project');
    stopSecond();
    host().loadPageState('undone');
    (window as unknown as { __JUCE__: { backend: { emitByBackend(id: string, json: string): void } } }).__JUCE__.backend.emitByBackend(
      'pageStateLoaded',
      '5',
    );

    expect(first).toEqual(['from the project', 'undone']);
    expect(second).toEqual(['from the project']);
    expect(await client.getPageState()).toBe('undone');
    expect(host().stateChanges).toBe(0);
  });

  it('reach JSON listeners read as JSON, an empty state as null, and text that is not JSON only as an error', () => {
    installFakeJuce({ pageState: 'old' });
    const client = createPageStateClient();
    const values: unknown[] = [];
    const errors: [string, string][] = [];
    const stop = client.onPageStateLoadedJson<{ notes: string }>(
      (value) => values.push(value),
      (error, text) => errors.push([error.reason, text]),
    );

    host().loadPageState('{"notes":"bar 9"}');
    host().loadPageState('');
    host().loadPageState('plain notes');
    stop();
    host().loadPageState('{"notes":"after"}');

    expect(values).toEqual([{ notes: 'bar 9' }, null]);
    expect(errors).toEqual([['not-json', 'plain notes']]);
  });
});
