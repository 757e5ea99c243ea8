⍝ One-element sums and comparisons, which compiled code works out in place:
⍝ INTG, REAL and mixed pairs at the edge of the comparison tolerance and of
⍝ the INTG range, a named argument left as it was, truth values that later
⍝ comparisons leave alone, the turns of a counting loop that leave no block
⍝ behind, and a sum too large for a REAL, which ends in DOMAIN ERROR (before
⍝ anything shows it)
⍝ MAIN: PAIRS
⍝ FAILS
∇PAIRS;I;IA;IB;RA;RB;FA;FB;X;Y;T;F;K;J;N
⎕PP←17
IA←3 2 ¯7 2147483647 0 1000000 ⋄ IB←3 5 4 1 0 1000001
RA←⎕REAL IA ⋄ RB←⎕REAL IB
FA←1E6 1.5 ¯0.25 1 1E¯300 ⋄ FB←1000000.00000001 1.5 0.25 1.00000000000001 0
I←0
L:I←I+1
⎕←IA[I] ALL IB[I] ⋄ ⎕←RA[I] ALL IB[I] ⋄ ⎕←IA[I] ALL RB[I] ⋄ ⎕←RA[I] ALL RB[I]
→(I<⍴IA)⍴L
I←0
M:I←I+1
⎕←FA[I] ALL FB[I]
→(I<⍴FA)⍴M
X←2.5 ⋄ Y←X+4 ⋄ ⎕←X,Y
T←1<2 ⋄ F←2<1 ⋄ ⎕←T,F,1<2
I←0 ⋄ N←1000
C:I←I+1
→(I≠10)⍴D
K←⎕MD
D:→(I<N)⍴C
J←⎕MD ⋄ ⎕←I,J[1]-K[1]
X←1E308+1.5E308
⎕←'not reached'
∇
∇Z←A ALL B
Z←(A+B),(A-B),(A×B),(A=B),(A≠B),(A<B),(A≤B),(A≥B),(A>B)
∇
