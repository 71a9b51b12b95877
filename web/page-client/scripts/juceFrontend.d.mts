export function juceFrontendDir(env?: Record<string, string | undefined>): string;
export function missingJuceFrontend(dir?: string): string | null;
